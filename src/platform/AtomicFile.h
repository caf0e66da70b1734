#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

namespace pinlark {

// Replaces the file at `path` with `bytes` in one step: the bytes go to a new file in the same
// folder, which is then renamed over the old one, so a reader sees the old or the new content,
// never a torn file. Creates missing parent folders. Gives an error description on failure, or
// an empty string.
QString writeFileAtomically(const QString& path, const QByteArray& bytes,
                            QFileDevice::Permissions permissions = QFileDevice::ReadOwner |
                                                                   QFileDevice::WriteOwner);

// Where a file whose bytes could not be understood is kept for inspection: the same path with
// ".corrupt-" and the current UTC time appended.
QString corruptAsidePath(const QString& path);

} // namespace pinlark
