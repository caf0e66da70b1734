#pragma once

#include <QString>

#include <optional>

namespace pinlark {

// What an update must pass before it may replace the running copy: the archive's checksum, an
// unpacked bundle of the expected and a newer version, of this app's identifier, whose seal the
// publisher signed and whose files all match it.
namespace Verification {

// Checks the archive `zip` against `sha256` (skipped when none or empty), unpacks it into
// `work`/unpacked and checks the bundle in it; gives the bundle's path. Throws Failure (corrupt,
// unpack, wrongVersion, notAnUpgrade, brokenSignature) or PlatformError where the archive can't
// be read.
QString verify(const QString& zip, const QString& work, const QString& expectedVersion,
               const std::optional<QString>& sha256);

} // namespace Verification

} // namespace pinlark
