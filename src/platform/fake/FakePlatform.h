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

    // Services given in `real` are installed as they are (their fake stays null); a fake
    // fills every other one.
    static FakePlatform install(Platform::Services real = {});
};

} // namespace pinlark
