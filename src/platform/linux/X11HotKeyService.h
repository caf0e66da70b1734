#pragma once

#include "platform/HotKeyService.h"

namespace pinlark {

// Grabs Alt+Super+S on the X11 root window.
class X11HotKeyService : public HotKeyService {
public:
    bool registerHotKey(std::function<void()> pressed) override;
};

} // namespace pinlark
