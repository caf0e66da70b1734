#pragma once

#include "platform/ActivationPolicy.h"
#include "platform/Alerts.h"
#include "platform/Bundle.h"
#include "platform/Clock.h"
#include "platform/CodeSignature.h"
#include "platform/CookieStore.h"
#include "platform/HotKeyService.h"
#include "platform/LoginItemService.h"
#include "platform/NotificationCenter.h"
#include "platform/Pasteboard.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"

#include <memory>

namespace pinlark {

// The one registry of operating-system services. Each platform has one installer that fills it
// (on Linux, LinuxPlatform::install(): the portable implementations of platform/qt/ and the
// Linux ones of platform/linux/); tests install fakes (FakePlatform). Reaching a
// service that was never installed is a programming error and stops the process.
class Platform {
public:
    struct Services {
        std::unique_ptr<UserDefaults> defaults;
        std::unique_ptr<CookieStore> cookieStore;
        std::unique_ptr<Clock> clock;
        std::unique_ptr<Workspace> workspace;
        std::unique_ptr<Pasteboard> pasteboard;
        std::unique_ptr<Alerts> alerts;
        std::unique_ptr<Bundle> bundle;
        std::unique_ptr<ActivationPolicy> activationPolicy;
        std::unique_ptr<HotKeyService> hotKeys;
        std::unique_ptr<LoginItemService> loginItems;
        std::unique_ptr<CodeSignature> codeSignature;
        std::unique_ptr<NotificationCenter> notifications;
    };

    // Replaces every service; the previous ones are destroyed.
    static void install(Services services);
    // Destroys every service.
    static void reset();

    static UserDefaults& defaults();
    static CookieStore& cookieStore();
    static Clock& clock();
    static Workspace& workspace();
    static Pasteboard& pasteboard();
    static Alerts& alerts();
    static Bundle& bundle();
    static ActivationPolicy& activationPolicy();
    static HotKeyService& hotKeys();
    static LoginItemService& loginItems();
    static CodeSignature& codeSignature();
    static NotificationCenter& notifications();
};

} // namespace pinlark
