#include "platform/linux/DesktopRegistration.h"

#include "Product.h"
#include "platform/AtomicFile.h"
#include "platform/BundleLocation.h"
#include "platform/Error.h"
#include "platform/linux/AutostartLoginItemService.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUuid>

#include <unistd.h>

#include <algorithm>

namespace pinlark::DesktopRegistration {

namespace {

QString dataHome() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

QString entryPath() {
    return dataHome() + QLatin1String("/applications/") + entryName();
}

// The program the entry names when the executable's own path would need quotes there: a link
// to the executable in the app's data folder.
QString launcherLink() {
    return dataHome() + QLatin1Char('/') + QLatin1String(Product::bundleIdentifier) +
           QLatin1Char('/') + QLatin1String(Product::name);
}

// What a registration consists of apart from the link: the entry and its bytes, then every icon
// the app carries (symbolic ones in the theme's symbolic folder). The entry starts `program`.
QList<std::pair<QString, QByteArray>> files(const QString& program) {
    QList<std::pair<QString, QByteArray>> result;
    QFile entry(QStringLiteral(":/app.pinlark.Pinlark.desktop.in"));
    entry.open(QIODevice::ReadOnly);
    QString text = QString::fromUtf8(entry.readAll());
    text.replace(QLatin1String("@PINLARK_EXEC@"), AutostartLoginItemService::execValue(program));
    result.append({entryPath(), text.toUtf8()});
    const QDir icons(QStringLiteral(":/icons"));
    for (const QString& name : icons.entryList(QDir::Files, QDir::Name)) {
        QFile icon(icons.filePath(name));
        icon.open(QIODevice::ReadOnly);
        const bool symbolic = name.endsWith(QLatin1String("-symbolic.svg"));
        result.append({dataHome() + QLatin1String("/icons/hicolor/") +
                           (symbolic ? QLatin1String("symbolic") : QLatin1String("scalable")) +
                           QLatin1String("/apps/") + name,
                       icon.readAll()});
    }
    return result;
}

// Brings the cache of which applications in `folder` take which types up to date, as a package's
// install does for /usr/share/applications. The entry declares no type, but one written by an
// older Pinlark did, and the cache would keep offering it. The cache names no default.
void refreshTypeCache() {
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(QStringLiteral("update-desktop-database"),
                  {QStringLiteral("-q"), QFileInfo(entryPath()).absolutePath()});
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished();
}

// Removes each of `paths` that is there (a dangling link too), adding it to `removed`.
void remove(const QStringList& paths, QStringList& removed) {
    for (const QString& path : paths) {
        QFile file(path);
        if (!file.exists() && !QFileInfo(path).isSymLink())
            continue;
        if (!file.remove())
            throw PlatformError(
                QStringLiteral("Could not remove %1: %2").arg(path, file.errorString()));
        removed.append(path);
    }
}

// After the files in `removed` went: the type cache refreshTypeCache() wrote where it now names
// no application, and the folders that held them where they are left empty, up to the data
// home; each added to `removed`.
void tidy(QStringList& removed) {
    const QString cache = QFileInfo(entryPath()).absolutePath() + QLatin1String("/mimeinfo.cache");
    QFile file(cache);
    if (removed.contains(entryPath()) && file.open(QIODevice::ReadOnly) &&
        file.readAll().trimmed() == "[MIME Cache]") {
        file.close();
        remove({cache}, removed);
    }
    const QString home = QDir(dataHome()).absolutePath();
    QStringList folders;
    for (const QString& path : removed) {
        for (QString folder = QFileInfo(path).absolutePath();
             folder.startsWith(home + QLatin1Char('/')) && !folders.contains(folder);
             folder = QFileInfo(folder).absolutePath())
            folders.append(folder);
    }
    // The deepest first, so that a folder's own folders have gone before it is tried.
    std::stable_sort(folders.begin(), folders.end(),
                     [](const QString& a, const QString& b) { return a.size() > b.size(); });
    for (const QString& folder : folders) {
        if (QDir().rmdir(folder))
            removed.append(folder);
    }
}

QStringList registrationPaths() {
    QStringList paths{launcherLink()};
    for (const auto& file : files(QString()))
        paths.append(file.first);
    return paths;
}

// The program the user's entry starts, when there is an entry and it names one.
std::optional<QString> registeredProgram() {
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (!line.startsWith("Exec="))
            continue;
        const auto args = AutostartLoginItemService::execArguments(QString::fromUtf8(line.mid(5)));
        return args && !args->isEmpty() ? args->first() : QString();
    }
    return QString();
}

// Points the launcher link at `executable`; whether it had to change.
bool linkLauncher(const QString& executable) {
    const QString link = launcherLink();
    if (QFileInfo(link).symLinkTarget() == executable)
        return false;
    QDir().mkpath(QFileInfo(link).absolutePath());
    const QString fresh = link + QLatin1String(".writing-") +
                          QUuid::createUuid().toString(QUuid::WithoutBraces).left(8);
    if (!QFile::link(executable, fresh) ||
        ::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(link).constData()) != 0) {
        QFile::remove(fresh);
        throw PlatformError(QStringLiteral("Could not link %1 to %2").arg(link, executable));
    }
    return true;
}

} // namespace

QString entryName() {
    return QLatin1String(Product::bundleIdentifier) + QLatin1String(".desktop");
}

QStringList reconcile(const QString& bundle) {
    QStringList changed;
    // An entry left by a copy that is gone, or that lies where other users can put a program
    // of theirs, would start that; it also hides the system package's entry of the same name.
    if (const auto program = registeredProgram();
        program &&
        (!QFileInfo(*program).isFile() || BundleLocation::folderOthersCanChange(*program))) {
        remove(registrationPaths(), changed);
        refreshTypeCache();
    }

    const QFileInfo info(bundle);
    if (info.suffix() != QLatin1String("app") || BundleLocation::isPackaged(bundle) ||
        ::access(QFile::encodeName(info.absolutePath()).constData(), W_OK) != 0 ||
        BundleLocation::folderOthersCanChange(bundle))
        return changed;
    const QString executable =
        bundle + QLatin1String("/Contents/MacOS/") + QLatin1String(Product::name);
    // Named bare where it can be: xdg-open of xdg-utils 1.1.3 starts no quoted program.
    const bool bare = !AutostartLoginItemService::execValue(executable).startsWith(u'"');
    if (!bare && linkLauncher(executable))
        changed.append(launcherLink());
    for (const auto& [path, bytes] : files(bare ? executable : launcherLink())) {
        QFile existing(path);
        if (existing.open(QIODevice::ReadOnly) && existing.readAll() == bytes)
            continue;
        const QString error =
            writeFileAtomically(path, bytes,
                                QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                    QFileDevice::ReadGroup | QFileDevice::ReadOther);
        if (!error.isEmpty())
            throw PlatformError(QStringLiteral("Could not write %1: %2").arg(path, error));
        changed.append(path);
        if (path == entryPath())
            refreshTypeCache();
    }
    if (bare && QFileInfo(launcherLink()).isSymLink())
        remove({launcherLink()}, changed);
    return changed;
}

QStringList unregister() {
    QStringList removed;
    remove(QStringList{AutostartLoginItemService::entryPath()} + registrationPaths(), removed);
    if (removed.contains(entryPath()))
        refreshTypeCache();
    tidy(removed);
    return removed;
}

} // namespace pinlark::DesktopRegistration
