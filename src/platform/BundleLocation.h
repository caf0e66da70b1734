#pragma once

#include <QString>

#include <optional>

namespace pinlark::BundleLocation {

// The first folder, from `path` itself up to the root, that another user could change: one owned
// by someone other than the user or root, or one that its group or everyone may write (a sticky
// folder such as /tmp included, where anyone may create a name that is free). Both the path as
// given and the one its links lead to are walked; for a bundle (a folder named "*.app"), so is
// everything in it, its links by where they lead. A path that does not exist is given back itself.
// None when only the user and root can change what `path` names.
//
// A copy of Pinlark registers itself on the desktop, updates itself and sets itself to open at
// login only where this finds nothing: whatever names the copy by its path would otherwise run
// whatever another user put there.
std::optional<QString> folderOthersCanChange(const QString& path);

// Whether the bundle at `bundle` was installed by a package, which brings its updates and its
// desktop entry: the package puts the file named `packageMarker` beside the bundle.
bool isPackaged(const QString& bundle);
inline constexpr char packageMarker[] = "managed-by-package";

} // namespace pinlark::BundleLocation
