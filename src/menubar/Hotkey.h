#pragma once

#include <functional>

namespace pinlark {

// The app's one global shortcut, Option-Command-S (Alt+Super+S on X11). The system registration
// happens once; later calls only replace the action.
class Hotkey {
public:
    // Stores `action` in place of any previous one and registers the shortcut unless an earlier
    // call did so successfully. A refused registration is silent; the next call tries again.
    static void registerAction(std::function<void()> action);

private:
    friend struct TestState;

    // Called by the platform at each press: schedules the stored action on the main thread.
    // The action is looked up when the scheduled call runs, so a replacement made in between
    // wins.
    static void fired();

    static std::function<void()> s_action;
    static bool s_registered;
};

} // namespace pinlark
