#include "platform/BundleLocation.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace pinlark::BundleLocation {

namespace {

bool othersCanChange(const struct stat& st) {
    return (st.st_uid != ::geteuid() && st.st_uid != 0) || (st.st_mode & (S_IWGRP | S_IWOTH));
}

// The first of `path` and the folders above it that another user could change.
std::optional<QString> walk(QString path) {
    for (;;) {
        struct stat st {};
        if (::stat(QFile::encodeName(path).constData(), &st) != 0 || othersCanChange(st))
            return path;
        if (path == QLatin1String("/"))
            return std::nullopt;
        path = QFileInfo(path).path();
    }
}

// The first file or folder inside the folder `root` that another user could change; a link
// counts by where it leads.
std::optional<QString> inside(const QString& root) {
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat st {};
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            return path;
        if (S_ISLNK(st.st_mode)) {
            const QString target = QFileInfo(path).canonicalFilePath();
            if (target.isEmpty())
                return path;
            if (!target.startsWith(root + QLatin1Char('/')) && walk(target))
                return path;
        } else if (othersCanChange(st)) {
            return path;
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<QString> folderOthersCanChange(const QString& path) {
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    if (canonical.isEmpty())
        return QDir::cleanPath(info.absoluteFilePath());
    if (auto shared = walk(QDir::cleanPath(info.absoluteFilePath())))
        return shared;
    if (auto shared = walk(canonical))
        return shared;
    // What runs from a bundle is its own files: Contents/MacOS, the helpers the updater runs. (A
    // program run from outside a bundle names its folder, which may be a large one: /usr/bin.)
    const QFileInfo resolved(canonical);
    return resolved.isDir() && resolved.fileName().endsWith(QLatin1String(".app"))
               ? inside(canonical)
               : std::nullopt;
}

bool isPackaged(const QString& bundle) {
    return QFileInfo::exists(QFileInfo(bundle).absolutePath() + QLatin1Char('/') +
                             QLatin1String(packageMarker));
}

} // namespace pinlark::BundleLocation
