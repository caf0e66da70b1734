#pragma once

namespace pinlark {

// Fills the platform registry with the Linux implementations.
namespace LinuxPlatform {
void install();
} // namespace LinuxPlatform

} // namespace pinlark
