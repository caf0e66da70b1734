#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace pinlark {

// One entry of a zip archive written by a test.
struct ZipEntry {
    enum class Type { File, Folder, Symlink, Hardlink };
    QString path;
    Type type = Type::File;
    QByteArray data{};
    // The target of a link.
    QString target{};
    int mode = 0644;
    // For a file: this many zero bytes instead of `data`, streamed.
    qint64 zeros = 0;
};

// Writes a zip archive; gives an error description or an empty string.
QString writeZip(const QString& path, const QList<ZipEntry>& entries);
// The files, folders and links under `folder`, named by their path relative to `base`.
QList<ZipEntry> zipEntriesOf(const QString& base, const QString& folder);

} // namespace pinlark
