#pragma once

#include <QString>
#include <QStringList>

namespace pinlark {

// A copy of Pinlark.app that a user unzipped into a folder of their own (~/Applications, say)
// puts itself on that user's desktop: the desktop entry a system install puts in
// /usr/share/applications, its Exec naming this copy, and the app's icons in the hicolor theme,
// both under $XDG_DATA_HOME. The launcher lists it and "Open with" offers it for web links; it is
// never made their default (nothing is written into mimeapps.list). A copy in a folder the user
// can't write belongs to the system, whose package installs the same files: it registers nothing.
namespace DesktopRegistration {

// The desktop entry's file name, which is also its desktop file ID.
QString entryName();

// Registers the bundle at `bundle` when it is one and the user can write to its folder: writes
// each of the entry and the icons that is missing or differs (the copy moved or was updated),
// atomically. Gives the files written; throws PlatformError when one could not be.
QStringList reconcile(const QString& bundle);

// Removes what registering and Open at Login wrote for the user (the entry, the icons, the
// autostart entry) and gives a report for the terminal: what was removed, and what is left and
// where (preferences, web data). Throws PlatformError when a file could not be removed.
QString uninstall();

} // namespace DesktopRegistration

} // namespace pinlark
