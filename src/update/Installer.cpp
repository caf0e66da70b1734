#include "update/Installer.h"

#include "Product.h"
#include "platform/AtomicFile.h"
#include "platform/BundleLocation.h"
#include "platform/Log.h"
#include "platform/Platform.h"
#include "service/Config.h"
#include "update/Failure.h"
#include "update/SwapScript.h"
#include "update/UpdateNetwork.h"
#include "update/Updater.h"
#include "update/Verification.h"

#include <QCoreApplication>
#include <QCoroNetworkReply>
#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QSaveFile>
#include <QUuid>

#include <unistd.h>

namespace pinlark {

namespace {

const QString otaFailedKey = QStringLiteral("otaFailed");
const QString otaFailedAtVersionKey = QStringLiteral("otaFailedAtVersion");
const QString autoUpdateKey = QStringLiteral("autoUpdate");

QString helpersFolder() {
    return Platform::bundle().path() + QLatin1String("/Contents/Helpers");
}

constexpr QFileDevice::Permissions ownerOnly =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

} // namespace

void Installer::setBusy(bool busy) {
    s_busy = busy;
    if (onChange)
        onChange();
}

std::optional<QString> Installer::bundleURL() {
    const QString path = Platform::bundle().path();
    if (QFileInfo(path).suffix() == QLatin1String("app"))
        return path;
    return std::nullopt;
}

bool Installer::isAutomatic() {
    return Platform::defaults().boolean(autoUpdateKey).value_or(true);
}

std::optional<QString> Installer::blocker() {
    if (Platform::defaults().boolean(otaFailedKey).value_or(false))
        return QStringLiteral("An earlier update had to be rolled back on this Mac, so Pinlark "
                              "is leaving the update to you.");
    const auto bundle = bundleURL();
    if (!bundle)
        return QStringLiteral("Pinlark isn't running from an application bundle.");
    if (bundle->contains(QLatin1String("/AppTranslocation/")))
        return QStringLiteral("Pinlark is running from a temporary copy. Move it to your "
                              "Applications folder first.");
    if (BundleLocation::isPackaged(*bundle))
        return QStringLiteral("Pinlark came with your system's packages, so its updates come "
                              "from your package manager.");
    const QString folder = QFileInfo(*bundle).absolutePath();
    if (::access(QFile::encodeName(folder).constData(), W_OK) != 0)
        return QStringLiteral("Pinlark can't write to %1.").arg(folder);
    if (const auto shared = BundleLocation::folderOthersCanChange(*bundle))
        return QStringLiteral("Other users of this computer can change %1, so Pinlark doesn't "
                              "update itself there. Move Pinlark.app into a folder of your own, "
                              "such as ~/Applications.")
            .arg(*shared);
    return std::nullopt;
}

QString Installer::safeFolderPiece(const QString& version) {
    QString piece;
    for (const QChar c : version) {
        const bool allowed = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                             (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                             (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                             QStringLiteral(".-_+").contains(c);
        piece += allowed ? c : QLatin1Char('_');
    }
    while (piece.contains(QLatin1String("..")))
        piece.replace(QLatin1String(".."), QLatin1String("_"));
    piece.truncate(64);
    return piece.isEmpty() ? QStringLiteral("_") : piece;
}

QCoro::Task<> Installer::install(QString version, QString path, std::optional<QString> sha256,
                                 std::function<bool()> stillWanted) {
    if (s_busy)
        throw Failure::deferred();
    if (const auto reason = blocker())
        throw Failure::blocked(*reason);
    const QString app = *bundleURL();
    setBusy(true);

    const QString work = QDir::tempPath() + QLatin1String("/pinlark-update-") +
                         safeFolderPiece(version) + QLatin1Char('-') +
                         QUuid::createUuid().toString(QUuid::WithoutBraces).left(8).toUpper();
    // The user's alone from the start: nobody else may look at or change what is verified here
    // before it is installed.
    QDir().mkpath(QDir::tempPath());
    if (!QDir().mkdir(work, ownerOnly)) {
        setBusy(false);
        throw Failure::download();
    }
    auto giveUp = [&work] {
        QDir(work).removeRecursively();
        setBusy(false);
    };

    QString trimmed = path;
    while (trimmed.startsWith(QLatin1Char('/')))
        trimmed.remove(0, 1);
    while (trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    const QUrl source = Config::api(trimmed);
    bool downloaded = true;
    try {
        co_await download(source, work + QLatin1String("/Pinlark.zip"));
    } catch (...) {
        downloaded = false;
    }
    if (!downloaded) {
        giveUp();
        throw Failure::download();
    }

    try {
        const QString staged =
            Verification::verify(work + QLatin1String("/Pinlark.zip"), work, version, sha256);
        if (!stillWanted())
            throw Failure::deferred();
        swap(app, staged, work, version);
    } catch (...) {
        giveUp();
        throw;
    }
    // The app is ending; only when it declined to end is the installation over.
    if (!s_terminating)
        setBusy(false);
}

QCoro::Task<> Installer::download(QUrl url, QString destination) {
    QNetworkRequest request(url);
    request.setTransferTimeout(int(s_downloadTimeout.count()));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    // The file is written whole under a temporary name and renamed over `destination` at the
    // end, so a failed download leaves nothing in its place.
    QSaveFile file(destination);
    if (!file.open(QIODevice::WriteOnly))
        throw PlatformError(file.errorString());

    QNetworkReply* reply = updateNetwork().get(request);
    enum class Stop { none, status, write, size } stop = Stop::none;
    qint64 received = 0;
    auto halt = [&](Stop why) {
        if (stop == Stop::none || stop == Stop::status) {
            stop = why;
            reply->abort();
        }
    };
    // An answer that is not a success is read to its end but not kept.
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [&] {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (stop == Stop::none && (status < 200 || status > 299))
            stop = Stop::status;
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [&] {
        const QByteArray bytes = reply->readAll();
        received += bytes.size();
        if (received > maxArchiveSize)
            halt(Stop::size);
        else if (stop == Stop::none && file.write(bytes) != bytes.size())
            halt(Stop::write);
    });
    co_await reply;
    reply->deleteLater();
    QObject::disconnect(reply, nullptr, nullptr, nullptr);

    switch (stop) {
    case Stop::status:
        throw Failure::download();
    case Stop::write:
        throw PlatformError(file.errorString());
    case Stop::size:
        throw PlatformError(QStringLiteral("The download is larger than any release."));
    case Stop::none:
        break;
    }
    if (isTransportFailure(*reply))
        throwTransportError(*reply, reply->error() == QNetworkReply::OperationCanceledError);
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status < 200 || status > 299)
        throw Failure::download();
    const QByteArray rest = reply->readAll();
    received += rest.size();
    if (file.write(rest) != rest.size())
        throw PlatformError(file.errorString());
    // A peer that closes early can leave Qt reporting a short body as complete.
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && !reply->hasRawHeader("Content-Encoding") &&
        received != length.toLongLong())
        throw PlatformError(QStringLiteral("The network connection was lost."));
    if (!file.commit())
        throw PlatformError(file.errorString());
}

bool Installer::run(const QString& path, const QStringList& arguments) {
    QString program = path;
    const QString bundled = helpersFolder() + QLatin1Char('/') + QFileInfo(path).fileName();
    if (QFileInfo(bundled).isExecutable())
        program = bundled;
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(-1))
        return false;
    process.waitForFinished(-1);
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

void Installer::swap(const QString& app, const QString& staged, const QString& work,
                     const QString& version) {
    Platform::defaults().set(otaFailedAtVersionKey, Updater::currentVersion());
    // The script runs this build's own helpers, set aside before anything is moved: the bundle
    // it installs may carry other ones or none, and must have no say in how it is rolled back.
    // What an earlier swap that never ended left there goes first; a link or a file is removed,
    // a link not followed.
    const QString aside = SwapScript::helpersAside(app);
    const QFileInfo found(aside);
    if ((found.isSymLink() || found.isFile() ? !QFile::remove(aside)
                                             : !QDir(aside).removeRecursively()) ||
        !QDir().mkdir(aside, ownerOnly))
        throw PlatformError(QStringLiteral("The update tools couldn't be set aside."));
    // Nothing is left there when the swap does not start.
    const auto failure = [&aside](const QString& message) {
        QDir(aside).removeRecursively();
        return PlatformError(message);
    };
    for (const char* name : {"ditto", "open", "defaults"}) {
        const QString tool = QLatin1String(name);
        const QString copy = aside + QLatin1Char('/') + tool;
        if (!QFile::copy(helpersFolder() + QLatin1Char('/') + tool, copy) ||
            !QFile::setPermissions(copy, ownerOnly))
            throw failure(QStringLiteral("The update tool %1 couldn't be set aside.").arg(tool));
    }
    const QString script = aside + QLatin1String("/swap.sh");
    const QString log = work + QLatin1String("/swap.log");
    const qint64 pid = QCoreApplication::applicationPid();
    const QString identifier =
        Platform::bundle().identifier().value_or(QLatin1String(Product::bundleIdentifier));

    const QString error =
        writeFileAtomically(script, SwapScript::text(app, staged, work, pid, identifier).toUtf8(),
                            QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (!error.isEmpty())
        throw failure(error);

    QProcess process;
    process.setProgram(QStringLiteral("/bin/sh"));
    process.setArguments({script});
    QFile(log).open(QIODevice::WriteOnly | QIODevice::Truncate);
    if (QFile(log).open(QIODevice::WriteOnly | QIODevice::Append)) {
        process.setStandardOutputFile(log, QIODevice::Append);
        process.setStandardErrorFile(log, QIODevice::Append);
    }
    process.setStandardInputFile(QProcess::nullDevice());
    process.setChildProcessModifier([] { ::setsid(); });
    if (!process.startDetached())
        throw failure(
            QStringLiteral("The swap script couldn't be started: %1").arg(process.errorString()));
    logLine(QStringLiteral("[updater] installing %1 — swap log at %2").arg(version, log));
    s_terminating = terminateApp();
}

bool Installer::terminateApp() {
    if (s_terminate)
        return s_terminate();
    QCoreApplication::quit();
    return true;
}

void Installer::reconcile() {
    UserDefaults& defaults = Platform::defaults();
    if (!defaults.boolean(otaFailedKey).value_or(false))
        return;
    const auto recorded = defaults.string(otaFailedAtVersionKey);
    const QString current = Updater::currentVersion();
    if (recorded && *recorded == current)
        return;
    logLine(QStringLiteral("[updater] clearing the rollback flag — now on %1, it was set on %2")
                .arg(current, recorded.value_or(QStringLiteral("an unrecorded version"))));
    defaults.remove(otaFailedKey);
    defaults.remove(otaFailedAtVersionKey);
}

} // namespace pinlark
