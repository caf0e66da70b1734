#pragma once

#include <functional>

namespace pinlark {

// One system-wide keyboard shortcut, Option-Command-S (Alt+Super+S where there is no Command
// key), that works whichever application is in front.
class HotKeyService {
public:
    virtual ~HotKeyService() = default;
    // Registers the shortcut; `pressed` is called on the main thread at each press. Gives false
    // when the system refused the registration (another client owns it, no display).
    virtual bool registerHotKey(std::function<void()> pressed) = 0;
};

} // namespace pinlark
