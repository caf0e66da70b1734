#pragma once

#include "platform/HotKeyService.h"

#include <memory>

namespace pinlark {

// Fills the platform registry for Linux: the portable Qt implementations (platform/qt/) and
// the Linux ones (platform/linux/). The only place besides app/ that names either folder.
// Called once the application object exists: the web profile and the choice of the global
// shortcut's service (portal or X11 grab) depend on its windowing platform.
namespace LinuxPlatform {
void install();
// The global shortcut for an application on the Qt windowing platform `platformName`, as the
// desktop offers it (Desktop::keyGrab): the key grab on X11, the desktop portal for a Wayland
// client whose session bus offers it, else none.
std::unique_ptr<HotKeyService> hotKeyServiceFor(const QString& platformName);
} // namespace LinuxPlatform

} // namespace pinlark
