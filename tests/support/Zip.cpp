#include "Zip.h"

#include <QFile>

#include <archive.h>
#include <archive_entry.h>

namespace pinlark {

QString writeZip(const QString& path, const QList<ZipEntry>& entries) {
    archive* out = archive_write_new();
    archive_write_set_format_zip(out);
    bool ok = archive_write_open_filename(out, QFile::encodeName(path).constData()) == ARCHIVE_OK;
    for (const ZipEntry& e : entries) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, e.path.toUtf8().constData());
        archive_entry_set_perm(entry, mode_t(e.mode));
        archive_entry_set_filetype(entry, e.folder              ? AE_IFDIR
                                          : e.symlink.isEmpty() ? AE_IFREG
                                                                : AE_IFLNK);
        if (!e.symlink.isEmpty())
            archive_entry_set_symlink(entry, e.symlink.toUtf8().constData());
        if (!e.hardlink.isEmpty())
            archive_entry_set_hardlink(entry, e.hardlink.toUtf8().constData());
        const qint64 size = e.zeros ? e.zeros : e.data.size();
        archive_entry_set_size(entry, size);
        ok = ok && archive_write_header(out, entry) == ARCHIVE_OK;
        // Zeros go a megabyte at a time.
        const QByteArray block = e.zeros ? QByteArray(1 << 20, '\0') : e.data;
        for (qint64 left = size; left > 0 && ok; left -= block.size())
            ok = archive_write_data(out, block.constData(),
                                    size_t(std::min<qint64>(left, block.size()))) >= 0;
        archive_entry_free(entry);
    }
    ok = archive_write_close(out) == ARCHIVE_OK && ok;
    const QString error =
        ok ? QString()
           : QStringLiteral("%1: %2").arg(path, QString::fromUtf8(archive_error_string(out)));
    archive_write_free(out);
    return error;
}

} // namespace pinlark
