#pragma once

#include <QString>

#include <functional>

namespace pinlark {

// One system-wide keyboard shortcut, Option-Command-S (Alt+Super+L where there is no Command
// key), that works whichever application is in front.
class HotKeyService {
public:
    virtual ~HotKeyService() = default;
    // Registers the shortcut; `pressed` is called on the main thread at each press. Gives false
    // when the system refused the registration (another client owns it, no display).
    virtual bool registerHotKey(std::function<void()> pressed) = 0;

    // How the shortcut is registered, in a few words for the log and the doctor.
    virtual QString name() const = 0;
    // The keys that press it, as the desktop writes them; empty while none is registered.
    virtual QString trigger() const = 0;

    // Where the desktop's own settings can take a shortcut that runs Pinlark's library command
    // and the app may add it there for the user: the free keys it would have. Empty otherwise.
    virtual QString offer() const { return {}; }
    // The keys of the second shortcut the same offer adds, which saves the copied link
    // (`--save-clipboard`); empty when it adds none.
    virtual QString saveOffer() const { return {}; }
    // Adds the shortcuts offer() and saveOffer() name, changing nothing that is there already;
    // trigger() names the library's keys afterwards. Throws PlatformError when the desktop's
    // settings refuse.
    virtual void acceptOffer() {}

    // Called on the main thread when trigger() changes after registerHotKey has returned (a
    // desktop portal answers later).
    std::function<void()> onTriggerChange;
};

} // namespace pinlark
