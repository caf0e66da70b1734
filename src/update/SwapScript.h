#pragma once

#include <QString>

namespace pinlark {

// The swap that puts a verified bundle in place of the running one: a shell script that
// Installer::swap starts detached and that waits for the app to end, moves the old bundle aside,
// moves the new one in and starts it, and puts the old one back when the new one does not stay
// up. The only part of updating that can't be undone happens there.
namespace SwapScript {

// Where the swap keeps what it runs, its script and copies of the running bundle's helpers: a
// folder of the user's alone beside the bundle `app`, on its file system. The temporary folder
// holds only data: it may be mounted noexec, and it is no place for programs.
QString helpersAside(const QString& app);

// The text of the script that swaps `staged` in for `app` once the process `pid` has ended,
// logging into `work`; a rollback marks the preferences of `bundleIdentifier`.
QString text(const QString& app, const QString& staged, const QString& work, qint64 pid,
             const QString& bundleIdentifier);

} // namespace SwapScript

} // namespace pinlark
