#include "platform/linux/X11HotKeyService.h"

namespace pinlark {

bool X11HotKeyService::registerHotKey(std::function<void()>) {
    return false;
}

} // namespace pinlark
