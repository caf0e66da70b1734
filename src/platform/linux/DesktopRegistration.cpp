#include "platform/linux/DesktopRegistration.h"

#include "Product.h"
#include "platform/AtomicFile.h"
#include "platform/Error.h"
#include "platform/WebProfile.h"
#include "platform/linux/AutostartLoginItemService.h"
#include "platform/linux/FileUserDefaults.h"
#include "platform/qt/WebEngineCookieStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <unistd.h>

namespace pinlark::DesktopRegistration {

namespace {

// What a registration consists of: each file under the data home and its bytes. The icons are
// every one the app carries (symbolic ones in the theme's symbolic folder).
QList<std::pair<QString, QByteArray>> files(const QString& executable) {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    QList<std::pair<QString, QByteArray>> result;
    QFile entry(QStringLiteral(":/app.pinlark.Pinlark.desktop.in"));
    entry.open(QIODevice::ReadOnly);
    QString text = QString::fromUtf8(entry.readAll());
    text.replace(QLatin1String("\"@PINLARK_EXEC@\""),
                 AutostartLoginItemService::execValue(executable));
    result.append({data + QLatin1String("/applications/") + entryName(), text.toUtf8()});
    const QDir icons(QStringLiteral(":/icons"));
    for (const QString& name : icons.entryList(QDir::Files, QDir::Name)) {
        QFile icon(icons.filePath(name));
        icon.open(QIODevice::ReadOnly);
        const bool symbolic = name.endsWith(QLatin1String("-symbolic.svg"));
        result.append({data + QLatin1String("/icons/hicolor/") +
                           (symbolic ? QLatin1String("symbolic") : QLatin1String("scalable")) +
                           QLatin1String("/apps/") + name,
                       icon.readAll()});
    }
    return result;
}

bool isEntry(const QString& path) {
    return path.endsWith(QLatin1String("/applications/") + entryName());
}

// Brings the cache of which applications in `folder` take which types up to date, as a package's
// install does for /usr/share/applications: GIO lists an application under "Open with" only from
// there. The cache names no default.
void refreshTypeCache(const QString& folder) {
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(QStringLiteral("update-desktop-database"), {QStringLiteral("-q"), folder});
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished();
}

} // namespace

QString entryName() {
    return QLatin1String(Product::bundleIdentifier) + QLatin1String(".desktop");
}

QStringList reconcile(const QString& bundle) {
    const QFileInfo info(bundle);
    if (info.suffix() != QLatin1String("app") ||
        ::access(QFile::encodeName(info.absolutePath()).constData(), W_OK) != 0)
        return {};
    QStringList written;
    for (const auto& [path, bytes] :
         files(bundle + QLatin1String("/Contents/MacOS/") + QLatin1String(Product::name))) {
        QFile existing(path);
        if (existing.open(QIODevice::ReadOnly) && existing.readAll() == bytes)
            continue;
        const QString error =
            writeFileAtomically(path, bytes,
                                QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                    QFileDevice::ReadGroup | QFileDevice::ReadOther);
        if (!error.isEmpty())
            throw PlatformError(QStringLiteral("Could not write %1: %2").arg(path, error));
        written.append(path);
    }
    if (!written.isEmpty() && isEntry(written.first()))
        refreshTypeCache(QFileInfo(written.first()).absolutePath());
    return written;
}

QString uninstall() {
    QStringList paths{AutostartLoginItemService::entryPath()};
    for (const auto& file : files(QString()))
        paths.append(file.first);
    QString report;
    for (const QString& path : paths) {
        QFile file(path);
        if (!file.exists())
            continue;
        if (!file.remove())
            throw PlatformError(
                QStringLiteral("Could not remove %1: %2").arg(path, file.errorString()));
        report += QStringLiteral("Removed %1\n").arg(path);
        if (isEntry(path))
            refreshTypeCache(QFileInfo(path).absolutePath());
    }
    if (report.isEmpty())
        report = QStringLiteral("Pinlark had nothing registered on your desktop.\n");

    const std::pair<const char*, QString> kept[] = {
        {"preferences", FileUserDefaults::standardPath()},
        {"sign-in", WebEngineCookieStore::standardMirrorPath()},
        {"web data", webDataFolder()},
        {"web cache", webCacheFolder()}};
    QString left;
    for (const auto& [what, path] : kept) {
        if (QFileInfo::exists(path))
            left += QStringLiteral("  %1 %2\n").arg(QLatin1String(what), -12).arg(path);
    }
    if (!left.isEmpty())
        report += QStringLiteral("Left in place; delete them for Pinlark to forget you:\n") + left;
    return report + QStringLiteral("Pinlark.app itself stays where it is.\n");
}

} // namespace pinlark::DesktopRegistration
