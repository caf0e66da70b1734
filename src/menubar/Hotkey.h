#pragma once

#include <QString>

#include <functional>

namespace pinlark {

// The app's one global shortcut, Option-Command-S (Alt+Super+L on X11). The system registration
// happens once; later calls only replace the action.
class Hotkey {
public:
    // Stores `action` in place of any previous one and registers the shortcut unless an earlier
    // call did so successfully; the next call after a refusal tries again. The first call logs
    // which service was asked and what it answered. The panel's footer is told whether the
    // desktop took the shortcut; it names the keys, or says how to set some.
    static void registerAction(std::function<void()> action);

    // Called when text() changes after registration (a desktop portal answers later).
    static std::function<void()> onChange;

private:
    friend struct TestState;

    // Called by the platform at each press: schedules the stored action on the main thread.
    // The action is looked up when the scheduled call runs, so a replacement made in between
    // wins.
    static void fired();

    static std::function<void()> s_action;
    static bool s_registered;
    static bool s_logged;
};

} // namespace pinlark
