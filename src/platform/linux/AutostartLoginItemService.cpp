#include "platform/linux/AutostartLoginItemService.h"

#include "platform/Error.h"

namespace pinlark {

LoginItemService::Status AutostartLoginItemService::status() const {
    return Status::NotFound;
}
void AutostartLoginItemService::registerApp() {
    throw PlatformError(QStringLiteral("Open at login is not available."));
}
void AutostartLoginItemService::unregisterApp() {}

} // namespace pinlark
