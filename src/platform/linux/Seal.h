#pragma once

#include <QString>

namespace pinlark {

// The seal of a bundle, "Contents/_CodeSignature/CodeResources": an XML property list whose
// "files" dictionary names every file of the bundle by its path inside the bundle, with its
// SHA-256 ("hash") and permission bits ("mode"), or, for a symbolic link, its target
// ("symlink"). Nested bundles carry seals of their own, which the outer seal covers as files.
namespace Seal {

// The seal's path inside a bundle.
inline constexpr char relativePath[] = "Contents/_CodeSignature/CodeResources";

// Seals the bundle at `bundlePath`, replacing an earlier seal. Gives an error description, or
// an empty string. A symbolic link leaving the bundle, or a file that is neither a regular
// file, a folder nor a link, is refused.
QString write(const QString& bundlePath);

// Whether the bundle has a seal that can be read.
bool exists(const QString& bundlePath);

// Whether the bundle is exactly as sealed: every sealed file present with its digest and mode,
// every sealed link with its target and staying inside the bundle, nothing else besides the
// seal itself. With `nested`, every bundle inside that carries a seal is checked the same way.
bool check(const QString& bundlePath, bool nested);

} // namespace Seal

} // namespace pinlark
