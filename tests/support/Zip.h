#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace pinlark {

// One entry of a zip archive written by a test: a file of `data`, or of `zeros` zero bytes
// (streamed); a symbolic or hard link; or a folder.
struct ZipEntry {
    QString path;
    QByteArray data{};
    int mode = 0644;
    qint64 zeros = 0;
    QString symlink{};
    QString hardlink{};
    bool folder = false;
};

// Writes a zip archive; gives an error description or an empty string.
QString writeZip(const QString& path, const QList<ZipEntry>& entries);

} // namespace pinlark
