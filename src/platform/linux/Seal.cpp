#include "platform/linux/Seal.h"

#include "platform/PropertyList.h"
#include "platform/Sha256.h"
#include "platform/AtomicFile.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QVariantMap>

#include <sys/stat.h>

namespace pinlark::Seal {

namespace {

struct Entry {
    QString relative;
    QString absolute;
};

// Every entry below `root` but folders, without following links.
QList<Entry> entries(const QString& root) {
    QList<Entry> list;
    QDirIterator it(QFileInfo(root).absoluteFilePath(),
                    QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    const QDir base(QFileInfo(root).absoluteFilePath());
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        if (info.isDir() && !info.isSymLink())
            continue;
        list.append({base.relativeFilePath(path), path});
    }
    return list;
}

// Whether `target`, a link's text at `relative` inside the bundle, stays inside it.
bool staysInside(const QString& relative, const QString& target) {
    if (target.isEmpty() || target.startsWith(QLatin1Char('/')))
        return false;
    const QString joined = QDir::cleanPath(QFileInfo(relative).path() + QLatin1Char('/') + target);
    return joined != QLatin1String("..") && !joined.startsWith(QLatin1String("../"));
}

QByteArray linkTarget(const QString& path) {
    QByteArray target(4096, Qt::Uninitialized);
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), target.data(), 4096);
    return n < 0 ? QByteArray() : target.left(n);
}

} // namespace

QString write(const QString& bundlePath) {
    const QString sealPath = bundlePath + QLatin1Char('/') + QLatin1String(relativePath);
    QFile::remove(sealPath);
    QVariantMap files;
    for (const Entry& e : entries(bundlePath)) {
        struct stat st {};
        if (::lstat(QFile::encodeName(e.absolute).constData(), &st) != 0)
            return QStringLiteral("can't read %1").arg(e.absolute);
        if (S_ISLNK(st.st_mode)) {
            const QString target = QFile::decodeName(linkTarget(e.absolute));
            if (!staysInside(e.relative, target))
                return QStringLiteral("%1 links outside the bundle").arg(e.relative);
            files.insert(e.relative, QVariantMap{{QStringLiteral("symlink"), target}});
        } else if (S_ISREG(st.st_mode)) {
            const auto hash = Sha256::ofFile(e.absolute);
            if (!hash)
                return QStringLiteral("can't read %1").arg(e.absolute);
            files.insert(e.relative,
                         QVariantMap{{QStringLiteral("hash"), QString::fromLatin1(*hash)},
                                     {QStringLiteral("mode"), qint64(st.st_mode & 07777)}});
        } else {
            return QStringLiteral("%1 is not a file, folder or link").arg(e.relative);
        }
    }
    return writeFileAtomically(sealPath, xmlPropertyList({{QStringLiteral("files"), files}}),
                               QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                   QFileDevice::ReadGroup | QFileDevice::ReadOther);
}

bool exists(const QString& bundlePath) {
    const auto seal = readPropertyList(bundlePath + QLatin1Char('/') + QLatin1String(relativePath));
    return seal && seal->toMap().value(QStringLiteral("files")).typeId() == QMetaType::QVariantMap;
}

bool check(const QString& bundlePath, bool nested) {
    const auto seal = readPropertyList(bundlePath + QLatin1Char('/') + QLatin1String(relativePath));
    if (!seal)
        return false;
    const QVariant filesValue = seal->toMap().value(QStringLiteral("files"));
    if (filesValue.typeId() != QMetaType::QVariantMap)
        return false;
    const QVariantMap files = filesValue.toMap();

    QStringList present;
    for (const Entry& e : entries(bundlePath)) {
        if (e.relative == QLatin1String(relativePath))
            continue;
        if (!files.contains(e.relative))
            return false;
        present.append(e.relative);
    }
    if (present.size() != files.size())
        return false; // a sealed file is missing

    for (auto it = files.begin(); it != files.end(); ++it) {
        const QVariantMap sealed = it.value().toMap();
        const QString path = bundlePath + QLatin1Char('/') + it.key();
        struct stat st {};
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            return false;
        if (sealed.contains(QStringLiteral("symlink"))) {
            const QString target = sealed.value(QStringLiteral("symlink")).toString();
            if (!S_ISLNK(st.st_mode) || QFile::decodeName(linkTarget(path)) != target ||
                !staysInside(it.key(), target))
                return false;
            continue;
        }
        if (!S_ISREG(st.st_mode) ||
            qint64(st.st_mode & 07777) != sealed.value(QStringLiteral("mode")).toLongLong())
            return false;
        const auto hash = Sha256::ofFile(path);
        if (!hash || QString::fromLatin1(*hash) != sealed.value(QStringLiteral("hash")).toString())
            return false;
    }

    if (nested) {
        for (const QString& sealFile : present) {
            if (!sealFile.endsWith(QLatin1Char('/') + QLatin1String(relativePath)))
                continue;
            const QString inner = sealFile.chopped(int(qstrlen(relativePath)) + 1);
            if (!check(bundlePath + QLatin1Char('/') + inner, true))
                return false;
        }
    }
    return true;
}

} // namespace pinlark::Seal
