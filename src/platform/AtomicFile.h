#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFileDevice>
#include <QString>

namespace pinlark {

// Replaces the file at `path` with `bytes` in one step: the bytes go to a new file
// "<path>.writing-XXXXXX" in the same folder, with `permissions` before its first byte, which is
// flushed to disk and renamed over the old one, so a reader sees the old or the new content,
// never a torn file; on failure the new file is removed. Creates missing parent folders. Gives
// an error description on failure, or an empty string.
QString writeFileAtomically(const QString& path, const QByteArray& bytes,
                            QFileDevice::Permissions permissions = QFileDevice::ReadOwner |
                                                                   QFileDevice::WriteOwner);

// Removes the new files that writers of `path` killed mid-write left beside it. Only for files
// whose writers hold FileLock(path) while they write: nothing is removed while one does.
void removeDeadWritersFiles(const QString& path);

// Where a file whose bytes could not be understood is kept for inspection: the same path with
// ".corrupt-" and the UTC time `when` (by default the current time) appended.
QString corruptAsidePath(const QString& path, const QDateTime& when = {});

} // namespace pinlark
