#pragma once

namespace pinlark {

// Fills the platform registry for Linux: the portable Qt implementations (platform/qt/) and
// the Linux ones (platform/linux/). The only place besides app/ that names either folder.
// Called once the application object exists: the web profile and the choice of the global
// shortcut's service (portal or X11 grab) depend on its windowing platform.
namespace LinuxPlatform {
void install();
} // namespace LinuxPlatform

} // namespace pinlark
