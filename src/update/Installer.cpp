#include "update/Installer.h"

#include "Product.h"
#include "platform/AtomicFile.h"
#include "platform/BundleLocation.h"
#include "platform/Log.h"
#include "platform/Platform.h"
#include "platform/PropertyList.h"
#include "platform/Sha256.h"
#include "service/Config.h"
#include "update/Failure.h"
#include "update/UpdateNetwork.h"
#include "update/Updater.h"

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

QString shellQuoted(const QString& value) {
    QString quoted = value;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString helpersFolder() {
    return Platform::bundle().path() + QLatin1String("/Contents/Helpers");
}

// Where the swap keeps what it runs, its script and copies of the running bundle's helpers: a
// folder of the user's alone beside the bundle `app`, on its file system. The temporary folder
// holds only data: it may be mounted noexec, and it is no place for programs.
QString helpersAside(const QString& app) {
    return QFileInfo(app).absolutePath() + QLatin1String("/.Pinlark-swap");
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
        const QString staged = verify(work + QLatin1String("/Pinlark.zip"), work, version, sha256);
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

QString Installer::verify(const QString& zip, const QString& work, const QString& expectedVersion,
                          const std::optional<QString>& sha256) {
    if (sha256 && !sha256->isEmpty()) {
        const auto digest = Sha256::ofFile(zip);
        if (!digest)
            throw PlatformError(
                QStringLiteral("The file “%1” couldn't be opened.").arg(QFileInfo(zip).fileName()));
        const QString computed = QString::fromLatin1(*digest);
        if (computed.compare(*sha256, Qt::CaseInsensitive) != 0) {
            logLine(QStringLiteral("[updater] checksum mismatch: got %1, expected %2")
                        .arg(computed, *sha256));
            throw Failure::corrupt();
        }
    }

    const QString unpacked = work + QLatin1String("/unpacked");
    if (!run(QStringLiteral("/usr/bin/ditto"),
             {QStringLiteral("-x"), QStringLiteral("-k"), zip, unpacked}))
        throw Failure::unpack();

    QString bundle;
    const QDir folder(unpacked);
    if (!folder.exists())
        throw Failure::unpack();
    for (const QString& name : folder.entryList(
             QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        if (QFileInfo(name).suffix() == QLatin1String("app")) {
            bundle = folder.filePath(name);
            break;
        }
    }
    if (bundle.isEmpty())
        throw Failure::unpack();

    const auto info = readPropertyList(bundle + QLatin1String("/Contents/Info.plist"));
    if (!info || info->typeId() != QMetaType::QVariantMap)
        throw Failure::unpack();
    const QVariantMap dictionary = info->toMap();
    const QVariant version = dictionary.value(QStringLiteral("CFBundleShortVersionString"));
    if (version.typeId() != QMetaType::QString)
        throw Failure::unpack();
    const QString found = version.toString();
    if (found != expectedVersion)
        throw Failure::wrongVersion(expectedVersion, found);
    if (!Updater::isNewer(found, Updater::currentVersion()))
        throw Failure::notAnUpgrade(found);

    const QVariant id = dictionary.value(QStringLiteral("CFBundleIdentifier"));
    const std::optional<QString> theirs =
        id.typeId() == QMetaType::QString ? std::optional(id.toString()) : std::nullopt;
    if (theirs != Platform::bundle().identifier())
        throw Failure::unpack();

    CodeSignature& signature = Platform::codeSignature();
    if (!signature.createStaticCode(bundle) ||
        !signature.checkValidity(bundle, CodeSignature::CheckAllArchitectures |
                                             CodeSignature::CheckNestedCode))
        throw Failure::brokenSignature();
    return bundle;
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

QString Installer::swapScript(const QString& app, const QString& staged, const QString& work,
                              qint64 pid, const QString& bundleIdentifier) {
    const QString backup = QFileInfo(app).absolutePath() + QLatin1String("/.Pinlark-previous.app");
    QStringList lines{
        QStringLiteral("#!/bin/sh"),
        QStringLiteral(
            "# Pinlark's update swap, written by Installer and run detached after the app exits."),
        QStringLiteral("#"),
        QStringLiteral("# The only part of updating that cannot be undone is done here, so it is "
                       "written to be"),
        QStringLiteral(
            "# undoable: the old bundle is kept until the new one has been seen running."),
        QStringLiteral("set -u"),
        QString(),
        QStringLiteral("APP=") + shellQuoted(app),
        QStringLiteral("NEW=") + shellQuoted(staged),
        QStringLiteral("BACKUP=") + shellQuoted(backup),
        QStringLiteral("WORK=") + shellQuoted(work),
        QStringLiteral("HELPERS=") + shellQuoted(helpersAside(app)),
        QStringLiteral("PID=") + QString::number(pid),
        QStringLiteral("EXE=\"$APP/Contents/MacOS/Pinlark\""),
        QString(),
        QStringLiteral("say() { echo \"[$(date '+%H:%M:%S')] $*\"; }"),
        QString(),
        QStringLiteral("# Every way of giving up ends the same: this machine is told not to try "
                       "this again, the old"),
        QStringLiteral("# version runs (started here unless it still does), and the helpers "
                       "go. The log stays."),
        QStringLiteral("give_up() {"),
        QStringLiteral("  \"$HELPERS/defaults\" write ") + shellQuoted(bundleIdentifier) +
            QStringLiteral(" otaFailed -bool YES || say \"could not record the failure\""),
        QStringLiteral(
            "  if [ \"$1\" = start ]; then \"$HELPERS/open\" \"$APP\" || say \"could not "
            "start the old version\"; fi"),
        QStringLiteral("  rm -rf \"$HELPERS\""),
        QStringLiteral("  exit 1"),
        QStringLiteral("}"),
        QString(),
        QStringLiteral("# True while a process runs the new build's executable, this very file: "
                       "/proc/PID/exe and"),
        QStringLiteral("# $EXE are compared by device and inode, so no path is read as a "
                       "pattern. Leaves the"),
        QStringLiteral("# processes' ids in $found."),
        QStringLiteral("running() {"),
        QStringLiteral("  found="),
        QStringLiteral("  for proc in /proc/[0-9]*; do"),
        QStringLiteral(
            "    if [ \"$proc/exe\" -ef \"$EXE\" ]; then found=\"$found ${proc#/proc/}\"; fi"),
        QStringLiteral("  done"),
        QStringLiteral("  [ -n \"$found\" ]"),
        QStringLiteral("}"),
        QString(),
        QStringLiteral("# Stage 1: wait for the app to exit. It terminated itself the moment it "
                       "spawned this"),
        QStringLiteral("# script, so this is a formality; if it is somehow still up after about "
                       "ten seconds"),
        QStringLiteral("# (100 checks 0.1 seconds apart), do nothing at all, which is the safe "
                       "outcome. No swap"),
        QStringLiteral("# ever happens under a running executable."),
        QStringLiteral("i=0"),
        QStringLiteral("while kill -0 \"$PID\" 2>/dev/null; do"),
        QStringLiteral("  i=$((i + 1))"),
        QStringLiteral("  if [ \"$i\" -gt 100 ]; then say \"app is still running, leaving it "
                       "alone\"; give_up running; fi"),
        QStringLiteral("  sleep 0.1"),
        QStringLiteral("done"),
        QString(),
        QStringLiteral("# Stage 2: move the old bundle aside by rename, inside its own folder."),
        QStringLiteral("rm -rf \"$BACKUP\""),
        QStringLiteral("if ! mv \"$APP\" \"$BACKUP\"; then say \"could not move the old bundle "
                       "aside\"; give_up start; fi"),
        QString(),
        QStringLiteral("# Stage 3: copy the new bundle in with ditto rather than a move: the "
                       "staging folder can lie"),
        QStringLiteral("# on another volume, where a move is a copy anyway, and ditto copies "
                       "what the seal covers"),
        QStringLiteral("# and nothing more: no extended attributes, no set-id bits, nothing "
                       "others may write."),
        QStringLiteral("if ! \"$HELPERS/ditto\" \"$NEW\" \"$APP\"; then"),
        QStringLiteral("  say \"install failed, restoring\""),
        QStringLiteral("  rm -rf \"$APP\"; mv \"$BACKUP\" \"$APP\""),
        QStringLiteral("  give_up start"),
        QStringLiteral("fi"),
        QString(),
        QStringLiteral("# Stage 4: start the new build. This is why the script exists: nothing "
                       "inside the app can"),
        QStringLiteral("# watch its own replacement launch, and if anything refuses the new "
                       "build, nothing inside"),
        QStringLiteral("# the app can put the old one back. Wait up to 30 seconds (60 checks, "
                       "0.5 seconds apart)"),
        QStringLiteral("# for a process running the new executable."),
        QStringLiteral("\"$HELPERS/open\" \"$APP\" || say \"open returned an error\""),
        QStringLiteral("alive=0"),
        QStringLiteral("i=0"),
        QStringLiteral("while [ \"$i\" -lt 60 ]; do"),
        QStringLiteral("  if running; then alive=1; break; fi"),
        QStringLiteral("  i=$((i + 1))"),
        QStringLiteral("  sleep 0.5"),
        QStringLiteral("done"),
        QString(),
        QStringLiteral("# Stage 4b: the new build must still be running ten seconds later (ten "
                       "checks, one second"),
        QStringLiteral("# apart). open returns as soon as the app has started, so a build that "
                       "dies on its first"),
        QStringLiteral("# instruction looks healthy at the first check; asking only once would "
                       "declare victory"),
        QStringLiteral("# over a process that had already exited and throw the backup away."),
        QStringLiteral("if [ \"$alive\" = 1 ]; then"),
        QStringLiteral("  j=0"),
        QStringLiteral("  while [ \"$j\" -lt 10 ]; do"),
        QStringLiteral("    sleep 1"),
        QStringLiteral("    if ! running; then alive=0; say \"it started and then exited\"; "
                       "break; fi"),
        QStringLiteral("    j=$((j + 1))"),
        QStringLiteral("  done"),
        QStringLiteral("fi"),
        QString(),
        QStringLiteral("if [ \"$alive\" = 1 ]; then"),
        QStringLiteral("  say \"updated\""),
        QStringLiteral("  rm -rf \"$BACKUP\" \"$WORK\" \"$HELPERS\""),
        QStringLiteral("  exit 0"),
        QStringLiteral("fi"),
        QString(),
        QStringLiteral("# Stage 5: no process started, or one started and did not stay. Put the "
                       "old bundle back"),
        QStringLiteral("# exactly as it was, tell this machine not to try again, and start the "
                       "old version so the"),
        QStringLiteral("# menu bar returns on the version it had. The staging folder stays: its "
                       "log is the only"),
        QStringLiteral("# account of what happened, and temporary files are cleared soon "
                       "enough."),
        QStringLiteral("# Whatever still runs the new executable is stopped first, asked to end "
                       "and after five"),
        QStringLiteral("# seconds made to, so that nothing keeps running from a deleted bundle "
                       "beside the old"),
        QStringLiteral("# version. $found holds process ids only, split into words on purpose."),
        QStringLiteral("say \"the new build is not running — rolling back\""),
        QStringLiteral("if running; then"),
        QStringLiteral("  say \"stopping the new build\""),
        QStringLiteral("  kill $found 2>/dev/null"),
        QStringLiteral("  i=0"),
        QStringLiteral("  while running && [ \"$i\" -lt 50 ]; do i=$((i + 1)); sleep 0.1; done"),
        QStringLiteral("  if running; then kill -s KILL $found 2>/dev/null; fi"),
        QStringLiteral("fi"),
        QStringLiteral("rm -rf \"$APP\""),
        QStringLiteral("mv \"$BACKUP\" \"$APP\""),
        QStringLiteral("give_up start"),
    };
    return lines.join(QLatin1Char('\n'));
}

void Installer::swap(const QString& app, const QString& staged, const QString& work,
                     const QString& version) {
    Platform::defaults().set(otaFailedAtVersionKey, Updater::currentVersion());
    // The script runs this build's own helpers, set aside before anything is moved: the bundle
    // it installs may carry other ones or none, and must have no say in how it is rolled back.
    // What an earlier swap that never ended left there goes first; a link or a file is removed,
    // a link not followed.
    const QString aside = helpersAside(app);
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
        writeFileAtomically(script, swapScript(app, staged, work, pid, identifier).toUtf8(),
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
