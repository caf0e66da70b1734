#pragma once

#include "platform/LoginItemService.h"

namespace pinlark {

// Open at login through an XDG autostart entry.
class AutostartLoginItemService : public LoginItemService {
public:
    Status status() const override;
    void registerApp() override;
    void unregisterApp() override;
};

} // namespace pinlark
