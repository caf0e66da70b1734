#include "platform/linux/BrowserWorkspace.h"

#include "platform/Async.h"
#include "platform/Platform.h"
#include "platform/linux/DesktopRegistration.h"

#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>

#include <unistd.h>

using namespace std::chrono_literals;

namespace pinlark {

namespace {

// What the desktop says about the handlers of a scheme.
struct Handlers {
    // Whether the default handler is Pinlark's desktop entry.
    bool defaultIsPinlark = false;
    // The desktop files of the other applications registered for the scheme, in the desktop's
    // order.
    QStringList others;
    // The x-www-browser program, or empty.
    QString wwwBrowser;
};

// What `program` prints in the C locale, or nothing when it can't be run or takes longer than a
// few seconds. Blocks.
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

// Asks the desktop about `scheme`. Blocks for up to six seconds.
Handlers handlers(const QString& scheme) {
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

// handlers() on a thread of its own, so that the windows and menus stay responsive.
QCoro::Task<Handlers> askDesktop(QString scheme) {
    Completion<Handlers> found;
    QThread* thread = QThread::create([found, scheme]() mutable { found(handlers(scheme)); });
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
    co_return co_await found;
}

// The commands of $BROWSER for `url`, in order, each a program and its arguments.
QList<QStringList> browserCommands(const QString& browserVariable, const QString& url) {
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

// The commands to try for `url` after those, on a desktop that says `desktop`.
QList<QStringList> desktopCommands(const QString& url, const Handlers& desktop) {
    if (!desktop.defaultIsPinlark)
        return {{QStringLiteral("xdg-open"), url}};
    QList<QStringList> result;
    for (const QString& file : desktop.others)
        result.append({QStringLiteral("gio"), QStringLiteral("launch"), file, url});
    if (!desktop.wwwBrowser.isEmpty())
        result.append({desktop.wwwBrowser, url});
    return result;
}

QCoro::Task<> settleAfter(Completion<bool> done, CancelToken token) {
    co_await Platform::clock().sleep(10s, token);
    done(true);
}

// Runs `command`: whether it exited with status 0 or still runs after ten seconds. The process
// belongs to no object, so a browser it runs outlives the app, and it shares the app's output.
QCoro::Task<bool> run(QStringList command) {
    auto* process = new QProcess;
    process->setProgram(command.takeFirst());
    process->setArguments(command);
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setChildProcessModifier([] { ::setsid(); });
    Completion<bool> done;
    QObject::connect(process, &QProcess::finished, process,
                     [done, process](int code, QProcess::ExitStatus status) mutable {
                         process->deleteLater();
                         done(status == QProcess::NormalExit && code == 0);
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [done, process](QProcess::ProcessError error) mutable {
                         if (error != QProcess::FailedToStart)
                             return;
                         process->deleteLater();
                         done(false);
                     });
    CancelToken settled;
    settleAfter(done, settled);
    process->start();
    const bool ok = co_await done;
    settled.cancel();
    co_return ok;
}

} // namespace

QCoro::Task<bool> BrowserWorkspace::openExternally(QUrl url) {
    const QString link = url.toString(QUrl::FullyEncoded);
    for (const QStringList& command : browserCommands(qEnvironmentVariable("BROWSER"), link)) {
        if (co_await run(command))
            co_return true;
    }
    const Handlers desktop = co_await askDesktop(url.scheme());
    for (const QStringList& command : desktopCommands(link, desktop)) {
        if (co_await run(command))
            co_return true;
    }
    co_return false;
}

} // namespace pinlark
