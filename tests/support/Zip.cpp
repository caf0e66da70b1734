#include "Zip.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>

#include <sys/stat.h>

namespace pinlark {

QString writeZip(const QString& path, const QList<ZipEntry>& entries) {
    archive* out = archive_write_new();
    archive_write_set_format_zip(out);
    QString error;
    if (archive_write_open_filename(out, QFile::encodeName(path).constData()) != ARCHIVE_OK)
        error = QString::fromUtf8(archive_error_string(out));
    for (const ZipEntry& e : entries) {
        if (!error.isEmpty())
            break;
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, e.path.toUtf8().constData());
        archive_entry_set_perm(entry, mode_t(e.mode));
        archive_entry_set_mtime(entry, 1700000000, 0);
        using Type = ZipEntry::Type;
        archive_entry_set_filetype(entry, e.type == Type::Folder    ? AE_IFDIR
                                          : e.type == Type::Symlink ? AE_IFLNK
                                                                    : AE_IFREG);
        if (e.type == Type::Symlink)
            archive_entry_set_symlink(entry, e.target.toUtf8().constData());
        if (e.type == Type::Hardlink)
            archive_entry_set_hardlink(entry, e.target.toUtf8().constData());
        const qint64 size = e.type != Type::File ? 0 : e.zeros > 0 ? e.zeros : e.data.size();
        archive_entry_set_size(entry, size);
        if (archive_write_header(out, entry) != ARCHIVE_OK)
            error = QString::fromUtf8(archive_error_string(out));
        // Zeros are streamed a megabyte at a time.
        const QByteArray block = e.zeros > 0 ? QByteArray(1 << 20, '\0') : e.data;
        for (qint64 left = size; left > 0 && error.isEmpty(); left -= block.size())
            if (archive_write_data(out, block.constData(),
                                   size_t(std::min<qint64>(left, block.size()))) < 0)
                error = QString::fromUtf8(archive_error_string(out));
        archive_entry_free(entry);
    }
    if (archive_write_close(out) != ARCHIVE_OK && error.isEmpty())
        error = QString::fromUtf8(archive_error_string(out));
    archive_write_free(out);
    return error;
}

QList<ZipEntry> zipEntriesOf(const QString& base, const QString& folder) {
    QList<ZipEntry> entries;
    const QDir root(base);
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        struct stat st {};
        ::lstat(QFile::encodeName(path).constData(), &st);
        ZipEntry e;
        e.path = root.relativeFilePath(path);
        e.mode = int(st.st_mode & 0777);
        if (info.isSymLink()) {
            e.type = ZipEntry::Type::Symlink;
            e.target = info.symLinkTarget();
        } else if (info.isDir()) {
            e.type = ZipEntry::Type::Folder;
            e.path += QLatin1Char('/');
        } else {
            QFile file(path);
            file.open(QIODevice::ReadOnly);
            e.data = file.readAll();
        }
        entries.append(e);
    }
    return entries;
}

} // namespace pinlark
