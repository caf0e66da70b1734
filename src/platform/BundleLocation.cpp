#include "platform/BundleLocation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace pinlark::BundleLocation {

namespace {

// The first of `path` and the folders above it that another user could change.
std::optional<QString> walk(QString path) {
    for (;;) {
        struct stat st {};
        if (::stat(QFile::encodeName(path).constData(), &st) != 0)
            return path;
        if ((st.st_uid != ::geteuid() && st.st_uid != 0) || (st.st_mode & (S_IWGRP | S_IWOTH)))
            return path;
        if (path == QLatin1String("/"))
            return std::nullopt;
        path = QFileInfo(path).path();
    }
}

} // namespace

std::optional<QString> folderOthersCanChange(const QString& path) {
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    if (canonical.isEmpty())
        return QDir::cleanPath(info.absoluteFilePath());
    if (auto shared = walk(QDir::cleanPath(info.absoluteFilePath())))
        return shared;
    return walk(canonical);
}

bool isPackaged(const QString& bundle) {
    return QFileInfo::exists(QFileInfo(bundle).absolutePath() + QLatin1Char('/') +
                             QLatin1String(packageMarker));
}

} // namespace pinlark::BundleLocation
