#include "platform/linux/BrowserWorkspace.h"

#include "platform/linux/DesktopRegistration.h"

#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace pinlark {

namespace {

// What `program` prints in the C locale, or nothing when it can't be run or takes longer than a
// few seconds.
QString output(const QString& program, const QStringList& arguments) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    process.setProcessEnvironment(environment);
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, arguments, QIODevice::ReadOnly);
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

bool start(QStringList command) {
    const QString program = command.takeFirst();
    return QProcess::startDetached(program, command);
}

} // namespace

QList<QStringList> BrowserWorkspace::commands(const QString& browserVariable, const QString& url) {
    QList<QStringList> result;
    for (const QString& command : browserVariable.split(u':', Qt::SkipEmptyParts)) {
        QStringList words = QProcess::splitCommand(command);
        if (words.isEmpty())
            continue;
        bool placed = false;
        for (qsizetype i = 1; i < words.size(); ++i) {
            if (!words[i].contains(QLatin1String("%s")))
                continue;
            words[i].replace(QLatin1String("%s"), url);
            placed = true;
        }
        if (!placed)
            words.append(url);
        result.append(words);
    }
    return result;
}

QList<QStringList> BrowserWorkspace::desktopCommands(const QString& url, const Handlers& desktop) {
    if (!desktop.defaultIsPinlark)
        return {{QStringLiteral("xdg-open"), url}};
    QList<QStringList> result;
    for (const QString& file : desktop.others)
        result.append({QStringLiteral("gio"), QStringLiteral("launch"), file, url});
    if (!desktop.wwwBrowser.isEmpty())
        result.append({desktop.wwwBrowser, url});
    return result;
}

BrowserWorkspace::Handlers BrowserWorkspace::handlers(const QString& scheme) {
    const QString type = QLatin1String("x-scheme-handler/") + scheme.toLower();
    const QString pinlark = DesktopRegistration::entryName();
    Handlers result;
    result.defaultIsPinlark = output(QStringLiteral("xdg-mime"),
                                     {QStringLiteral("query"), QStringLiteral("default"), type})
                                  .trimmed() == pinlark;
    // gio, which xdg-open uses on GNOME and its kin, may see another default. It prints
    // "Default application for “TYPE”: ID", then "Registered applications:" and their IDs, one a
    // line after a tab.
    bool registered = false;
    for (const QString& line :
         output(QStringLiteral("gio"), {QStringLiteral("mime"), type}).split(u'\n')) {
        if (line.startsWith(QLatin1String("Default application")))
            result.defaultIsPinlark |= line.section(QLatin1String(": "), -1).trimmed() == pinlark;
        else if (!line.startsWith(u'\t'))
            registered = line.startsWith(QLatin1String("Registered applications"));
        else if (registered && line.trimmed() != pinlark)
            result.others.append(
                QStandardPaths::locate(QStandardPaths::ApplicationsLocation, line.trimmed()));
    }
    result.others.removeAll(QString());
    result.wwwBrowser = QStandardPaths::findExecutable(QStringLiteral("x-www-browser"));
    return result;
}

bool BrowserWorkspace::openExternally(const QUrl& url) {
    const QString link = url.toString(QUrl::FullyEncoded);
    for (const QStringList& command : commands(qEnvironmentVariable("BROWSER"), link)) {
        if (start(command))
            return true;
    }
    for (const QStringList& command : desktopCommands(link, handlers(url.scheme()))) {
        if (start(command))
            return true;
    }
    return false;
}

} // namespace pinlark
