#pragma once

namespace pinlark {

// Fills the platform registry for Linux: the portable Qt implementations (platform/qt/) and
// the Linux ones (platform/linux/). The only place besides app/ that names either folder.
namespace LinuxPlatform {
void install();
} // namespace LinuxPlatform

} // namespace pinlark
