#pragma once

#include "platform/Platform.h"
#include "platform/fake/FakeServices.h"
#include "platform/fake/ManualClock.h"

namespace pinlark {

// Installs a fake of every platform service and gives typed access to them. The registry owns
// the fakes; the pointers stay valid until the next install() or Platform::reset().
struct FakePlatform {
    FakeUserDefaults* defaults = nullptr;
    FakeCookieStore* cookieStore = nullptr;
    ManualClock* clock = nullptr;
    FakeWorkspace* workspace = nullptr;
    FakePasteboard* pasteboard = nullptr;
    FakeAlerts* alerts = nullptr;
    FakeBundle* bundle = nullptr;
    FakeActivationPolicy* activationPolicy = nullptr;
    FakeHotKeyService* hotKeys = nullptr;
    FakeLoginItemService* loginItems = nullptr;
    FakeCodeSignature* codeSignature = nullptr;
    FakeNotificationCenter* notifications = nullptr;

    // `adjust` may replace services with real ones before they are installed; the pointers of
    // replaced fakes are then null.
    static FakePlatform install(const std::function<void(Platform::Services&)>& adjust = {});
};

} // namespace pinlark
