#pragma once

#include <QString>
#include <QStringList>

namespace pinlark {

// A copy of Pinlark.app that a user unzipped into a folder of their own (~/Applications, say)
// puts itself on that user's desktop: the desktop entry a system install puts in
// /usr/share/applications, its Exec naming this copy, and the app's icons in the hicolor theme,
// both under $XDG_DATA_HOME. The launcher lists it. The entry declares no type or scheme, so the
// desktop never picks Pinlark to open anything; nothing is written into mimeapps.list. A copy in
// a folder the user can't write, one that a package installed, or one where other users could
// change it registers nothing.
namespace DesktopRegistration {

// The desktop entry's file name, which is also its desktop file ID.
QString entryName();

// Removes the user's entry (with the icons) when the program it names is gone or lies where
// other users could change it. Then registers the bundle at `bundle` when it may (see above):
// writes each of the entry and the icons that is missing or differs (the copy moved or was
// updated), atomically. Where the executable's path would need quotes in the entry, the entry
// names a link to it in the app's data folder instead. Gives the files written or removed;
// throws PlatformError when one could not be.
QStringList reconcile(const QString& bundle);

// Removes what registering and Open at Login wrote for the user: the entry, the icons, the
// autostart entry, then the type cache and the folders that held nothing else. Gives the paths
// removed; throws PlatformError when a file could not be removed.
QStringList unregister();

} // namespace DesktopRegistration

} // namespace pinlark
