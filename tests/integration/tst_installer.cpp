#include "DevService.h"
#include "PagePeer.h"
#include "TestKey.h"
#include "TestSupport.h"
#include "Zip.h"
#include "platform/Sha256.h"
#include "platform/linux/FileUserDefaults.h"
#include "platform/linux/Seal.h"
#include "platform/linux/SealCodeSignature.h"
#include "update/Failure.h"
#include "update/Installer.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace pinlark {

namespace {

QString kindName(Failure::Kind kind) {
    static const char* const names[] = {"blocked",  "wrongVersion",   "notAnUpgrade",
                                        "deferred", "download",       "corrupt",
                                        "unpack",   "brokenSignature"};
    return QLatin1String(names[int(kind)]);
}

// The folders and files of the bundle `app`, named from the folder that holds it, with the
// permission bits `open` added to each one's mode.
QList<ZipEntry> filesOf(const QString& app, int open = 0) {
    const QDir parent = QFileInfo(app).dir();
    QList<ZipEntry> entries{
        {.path = parent.relativeFilePath(app), .mode = 0755 | open, .folder = true}};
    QDirIterator it(app, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const bool folder = it.fileInfo().isDir();
        entries.append({.path = parent.relativeFilePath(path),
                        .data = folder ? QByteArray() : readFile(path),
                        .mode = (it.fileInfo().isExecutable() ? 0755 : 0644) | open,
                        .folder = folder});
    }
    return entries;
}

// What find prints of `folder` and what is in it, with `tests`: the entries found.
QString find(const QString& folder, const QString& tests) {
    QProcess find;
    find.start(u"find"_s, QStringList{folder} + tests.split(u' '));
    if (!find.waitForFinished() || find.exitCode() != 0)
        return u"find failed: "_s + QString::fromUtf8(find.readAllStandardError());
    return QString::fromUtf8(find.readAllStandardOutput());
}

} // namespace

// Installing an update end to end: the archive downloaded from the stand-in service or odd
// peers, verified and staged, and the swap of the running bundle by the script.
class TestInstaller : public QObject {
    Q_OBJECT

    FakePlatform fakes;
    std::unique_ptr<TestHome> home;
    std::unique_ptr<QTemporaryDir> root;
    QByteArray savedTmp;
    QString staging;        // where staging folders go (TMPDIR)
    QTemporaryDir releases; // served by the stand-in service
    std::unique_ptr<DevService> service;
    QString zip; // served as releases/Pinlark-2.0.zip
    QString pids;
    QByteArray standIn; // the stand-in app's executable

    // Pinlark.app in `folder` with `version` and `identifier`, sealed and signed with the private
    // key at `key` unless that is empty. With a `behaviour` its executable is the stand-in app,
    // which reads it; such a bundle that is not sealed is a running copy, with the built helpers.
    void makeBundle(const QString& folder, const QString& version, const QString& key,
                    const QByteArray& behaviour = {},
                    const QString& identifier = u"app.pinlark.Pinlark"_s) {
        const QString app = folder + u"/Pinlark.app"_s;
        QVERIFY(writeInfoPlist(app, version, identifier));
        QVERIFY(writeFile(app + u"/Contents/Resources/MenuBarIcon.png"_s, "png"));
        QVERIFY(writeFile(app + u"/Contents/MacOS/Pinlark"_s,
                          behaviour.isEmpty() ? QByteArray("#!/bin/sh\nexit 0\n") : standIn, 0755));
        if (!behaviour.isEmpty())
            QVERIFY(writeFile(app + u"/Contents/Resources/behaviour"_s, behaviour));
        if (!behaviour.isEmpty() && key.isEmpty())
            QVERIFY(copyHelpers(app));
        if (key.isEmpty())
            return;
        QCOMPARE(Seal::write(app), QString());
        QCOMPARE(Seal::sign(app, key), QString());
    }

    // Copies of the built helpers in the bundle `app`: the updater runs nothing from a folder
    // outside its bundle, such as a build tree that others may change.
    static bool copyHelpers(const QString& app) {
        const QDir built(QStringLiteral(PINLARK_APP_PATH "/Contents/Helpers"));
        const QString helpers = app + u"/Contents/Helpers"_s;
        if (!QDir().mkpath(helpers))
            return false;
        for (const QString& name : built.entryList(QDir::Files))
            if (!QFile::copy(built.filePath(name), helpers + u'/' + name))
                return false;
        return true;
    }

    QStringList leftovers() const {
        return QDir(staging).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    // Runs an installation to its end and tells how it ended: a Failure's kind, "error: <text>",
    // or "ok".
    QString endOf(QCoro::Task<> installation) {
        try {
            runTask(std::move(installation));
            return QStringLiteral("ok");
        } catch (const Failure& f) {
            return kindName(f.kind());
        } catch (const Error& e) {
            return QStringLiteral("error: ") + e.localizedDescription();
        }
    }

    // The pid a stand-in app that stays up wrote for `version` once it had started, or 0.
    qint64 runningPid(const QString& version) {
        const qint64 pid = readFile(pids + u'/' + version + u".pid"_s).toLongLong();
        return pid > 0 && ::kill(pid_t(pid), 0) == 0 ? pid : 0;
    }

private Q_SLOTS:
    void initTestCase() {
        // Without its debug information it is a twentieth of the size to copy, zip and hash.
        QTemporaryDir dir;
        QCOMPARE(QProcess::execute(u"objcopy"_s, {u"--strip-debug"_s, PINLARK_SWAP_APP_PATH ""_L1,
                                                  dir.filePath(u"app"_s)}),
                 0);
        standIn = readFile(dir.filePath(u"app"_s));
        service = std::make_unique<DevService>(QStringList{u"--releases"_s, releases.path()});
        zip = releases.filePath(u"Pinlark-2.0.zip"_s);
    }
    void init() {
        TestState::reset();
        home = std::make_unique<TestHome>();
        root = std::make_unique<QTemporaryDir>();
        staging = root->filePath(QStringLiteral("tmp"));
        pids = root->filePath(QStringLiteral("pids"));
        for (const QString& folder : {staging, pids})
            QDir().mkpath(folder);
        qputenv("PINLARK_SWAP_PIDS", pids.toLocal8Bit());
        savedTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", staging.toLocal8Bit());

        // The running copy: a bundle in a writable folder with copies of the built helpers.
        const QString app = root->filePath(QStringLiteral("Applications/Pinlark.app"));
        QVERIFY(copyHelpers(app));
        Platform::Services real;
        real.codeSignature = std::make_unique<SealCodeSignature>(testPublicKey);
        fakes = FakePlatform::install(std::move(real));
        fakes.bundle->bundlePath = app;
        fakes.bundle->infoDictionary = {{QStringLiteral("CFBundleShortVersionString"), "1.0"}};
        fakes.defaults->set(u"origin"_s, service->origin().toString());
    }
    void cleanup() {
        // Whatever runs from the test's folders ends with the test: a swap script, either version.
        for (const QString& entry : QDir(u"/proc"_s).entryList(QDir::Dirs))
            if (const QByteArray cmdline = readFile(u"/proc/"_s + entry + u"/cmdline"_s);
                entry.toInt() > 0 && (cmdline.contains(root->path().toUtf8()) ||
                                      cmdline.contains(home->path().toUtf8())))
                ::kill(entry.toInt(), SIGKILL);
        QCOMPARE(Installer::isBusy(), false);
        QCOMPARE(leftovers(), QStringList());
        qputenv("TMPDIR", savedTmp);
        root.reset();
        home.reset();
    }

    // `change`: what is done to the bundle, the archive or the digest; "deferred" means the
    // archive passed verification. The seal's own table has the other ways a bundle is broken.
    void verification_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("outcome");
        const auto row = [](const char* change, const char* outcome) {
            QTest::newRow(change) << QString::fromUtf8(change) << QString::fromUtf8(outcome);
        };
        row("good", "deferred");
        row("open modes", "deferred"); // group and others may write, set-id bits: all dropped
        row("wrong digest", "corrupt");
        row("no .app", "unpack");
        row("equal version", "notAnUpgrade");
        row("newer version than the manifest's", "wrongVersion");
        row("other identifier", "unpack");
        row("tampered file", "brokenSignature");
        row("entry with ../", "unpack");
        row("absolute entry", "unpack");
        row("symlink leaving", "unpack");
        // Zip has no hard links: such an entry arrives as an empty file the seal doesn't know.
        row("hard link", "brokenSignature");
    }
    void verification() {
        QFETCH(QString, change);
        QFETCH(QString, outcome);
        const auto is = [&](const char* c) { return change == QLatin1String(c); };
        const QString build = root->filePath(QStringLiteral("build"));
        const QString app = build + QStringLiteral("/Pinlark.app");
        const QString version = is("equal version") ? u"1.0"_s : u"2.0"_s;
        makeBundle(build, is("newer version than the manifest's") ? u"2.1"_s : version,
                   QStringLiteral(PINLARK_TEST_KEY_PATH), {},
                   is("other identifier") ? u"com.example.Other"_s : u"app.pinlark.Pinlark"_s);
        if (is("tampered file"))
            QVERIFY(writeFile(app + QStringLiteral("/Contents/Resources/MenuBarIcon.png"), "gif"));
        QList<ZipEntry> entries = filesOf(app, is("open modes") ? 07022 : 0);
        if (is("no .app"))
            for (ZipEntry& e : entries)
                e.path.replace(QStringLiteral("Pinlark.app"), QStringLiteral("Pinlark"));
        const QString bad = QStringLiteral("Pinlark.app/Contents/Resources/bad");
        if (is("entry with ../"))
            entries.append(ZipEntry{QStringLiteral("Pinlark.app/../../escaped")});
        if (is("absolute entry"))
            entries.append(ZipEntry{staging + QStringLiteral("/absolute")});
        if (is("symlink leaving"))
            entries.append({.path = bad, .symlink = u"../../../../etc"_s});
        if (is("hard link"))
            entries.append({.path = bad, .hardlink = u"/etc/passwd"_s});
        QCOMPARE(writeZip(zip, entries), QString());

        const QString sha = is("wrong digest") ? QString(64, QLatin1Char('0'))
                                               : QString::fromLatin1(*Sha256::ofFile(zip));
        // While it waits, the staging folder is the user's alone, and nothing in it is writable
        // by others or runs as anyone else.
        std::optional<QString> unsafe;
        const auto look = [&] {
            const QStringList folders = leftovers();
            unsafe = folders.size() != 1
                         ? u"staging folders: "_s + folders.join(u", "_s)
                         : find(staging + u'/' + folders[0], u"-maxdepth 0 ! -perm 700"_s) +
                               find(staging + u'/' + folders[0], u"-perm /7022 ! -type l"_s);
            return false;
        };
        QCOMPARE(endOf(Installer::install(version, u"/releases/Pinlark-2.0.zip/"_s, sha, look)),
                 outcome);
        if (outcome == u"deferred"_s)
            QCOMPARE(unsafe, QString());
        else
            QCOMPARE(unsafe, std::nullopt);
        QVERIFY(!QFile::exists(staging + QStringLiteral("/absolute")));
        QVERIFY(!QFile::exists(root->filePath(QStringLiteral("escaped"))));
    }

    // Installations that fail after their preflight, each with a second one started while it
    // runs.
    void failures_data() {
        QTest::addColumn<QByteArray>("answer"); // of a page peer; empty: the stand-in
        QTest::addColumn<bool>("keepOpen");
        QTest::addColumn<QString>("outcome");
        const QByteArray cut("HTTP/1.1 200 OK\r\nContent-Length: 4096\r\n\r\nPK\x03\x04");
        QTest::newRow("cut short") << cut << false << "download";
        QTest::newRow("stalled") << cut << true << "download";
        QTest::newRow("zip bomb") << QByteArray() << false << "unpack";
    }
    void failures() {
        QFETCH(QByteArray, answer);
        QFETCH(bool, keepOpen);
        QFETCH(QString, outcome);
        PagePeer peer;
        if (answer.isEmpty()) {
            // A release that would pass but for 128 MiB of zeros, compressed to a few hundred
            // kilobytes.
            makeBundle(root->filePath(u"build"_s), u"2.0"_s, QStringLiteral(PINLARK_TEST_KEY_PATH));
            QList<ZipEntry> entries = filesOf(root->filePath(u"build/Pinlark.app"_s));
            entries.append({.path = u"Pinlark.app/Contents/Resources/zeros"_s, .zeros = 128 << 20});
            QCOMPARE(writeZip(zip, entries), QString());
        } else {
            peer.fallback = answer;
            peer.keepOpen = keepOpen;
            fakes.defaults->set(QStringLiteral("origin"), peer.url().toString());
            Installer::s_downloadTimeout = 300ms;
        }
        int changes = 0;
        Installer::onChange = [&changes] { ++changes; };
        auto first = Installer::install(u"2.0"_s, u"releases/Pinlark-2.0.zip"_s, {});
        // Another installation while one runs waits for a quieter moment and changes nothing.
        QCOMPARE(endOf(Installer::install(u"2.0"_s, u"a.zip"_s, {})), u"deferred"_s);
        QCOMPARE(endOf(std::move(first)), outcome);
        QCOMPARE(changes, 2);
    }

    // Where the running bundle is (relative to the test's folder; "": in a folder that cannot
    // be written) and what keeps an update from being installed there, in a phrase of its own.
    void blocker() {
        const QString bundle = u"Applications/Pinlark.app"_s,
                      moved = u"AppTranslocation/X/Pinlark.app"_s;
        const std::tuple<bool, QString, QString> cases[] = {
            {false, bundle, {}},
            {true, moved, u"rolled back"_s},
            {false, u"build/src"_s, u"isn't running from an application bundle"_s},
            {false, moved, u"running from a temporary copy"_s},
            // Tests run as root, who may write into any folder that exists.
            {false, {}, u"can't write to %1."_s.arg(root->filePath(u"missing"_s))},
            {false, u"Shared/Pinlark.app"_s,
             u"Other users of this computer can change %1,"_s.arg(root->filePath(u"Shared"_s))},
            {false, u"Packaged/Pinlark.app"_s, u"come from your package manager"_s}};
        for (const auto& [rolledBack, path, message] : cases) {
            fakes.defaults->set(u"otaFailed"_s, rolledBack);
            QDir().mkpath(root->filePath(path));
            // Sticky, as /tmp is: still a folder where others may put what they like.
            if (path.startsWith(u"Shared"_s))
                QCOMPARE(::chmod(QFile::encodeName(root->filePath(u"Shared"_s)).constData(), 01777),
                         0);
            if (path.startsWith(u"Packaged"_s))
                QVERIFY(writeFile(root->filePath(u"Packaged/managed-by-package"_s), ""));
            fakes.bundle->bundlePath =
                root->filePath(path.isEmpty() ? u"missing/Pinlark.app"_s : path);
            const QString blocker = Installer::blocker().value_or(QString());
            QVERIFY2(message.isEmpty() ? blocker.isEmpty() : blocker.contains(message),
                     qPrintable(blocker));
        }
    }

    // What stands where the swap sets its helpers aside goes, unfollowed, for a new folder of the
    // user's alone holding this build's helpers. With a helper missing the stand-in's swap ends
    // with status 1, and nothing is left there.
    void helpersAside_data() {
        QTest::addColumn<QString>("found");
        for (const char* found : {"a file", "a link", "a folder of another's", "no helper"})
            QTest::newRow(found) << QString::fromLatin1(found);
    }
    void helpersAside() {
        QFETCH(QString, found);
        if (found == "a folder of another's"_L1 && ::geteuid() != 0)
            QSKIP("giving a folder to another user takes root");
        QString app = fakes.bundle->bundlePath;
        const QString aside = QFileInfo(app).path() + u"/.Pinlark-swap"_s,
                      planted = root->filePath(u"elsewhere/ditto"_s);
        QVERIFY(
            writeFile(found == "a folder of another's"_L1 ? aside + u"/ditto"_s : planted, "x"));
        if (found == "a file"_L1 || found == "a link"_L1)
            QVERIFY(found == "a file"_L1 ? QFile::rename(planted, aside)
                                         : QFile::link(QFileInfo(planted).path(), aside));
        if (found == "a folder of another's"_L1)
            QVERIFY(::chmod(QFile::encodeName(aside).constData(), 0777) == 0 &&
                    ::chown(QFile::encodeName(aside).constData(), 65534, 65534) == 0);
        if (found == "no helper"_L1) {
            makeBundle(root->filePath(u"v1"_s), u"1.0"_s, {}, "stay");
            app = root->filePath(u"v1/Pinlark.app"_s);
            QVERIFY(QFile::remove(app + u"/Contents/Helpers/open"_s));
            QProcess v1;
            v1.start(app + u"/Contents/MacOS/Pinlark"_s,
                     {u"--swap"_s, app, app, staging, u"2.0"_s});
            QVERIFY(v1.waitForFinished(30000) && v1.exitCode() == 1);
            QVERIFY(v1.readAllStandardError().contains("swap failed: The update tool open"));
            QVERIFY(!QFileInfo::exists(root->filePath(u"v1/.Pinlark-swap"_s)));
            return;
        }
        Installer::s_terminate = [] { return false; }; // the script waits for this process
        Installer::swap(app, root->filePath(u"staged"_s), root->filePath(u"work"_s), u"2.0"_s);
        QCOMPARE(find(aside, u"-maxdepth 0 -type d -perm 700 -uid %1"_s.arg(::geteuid())),
                 aside + u'\n');
        QCOMPARE(readFile(aside + u"/ditto"_s), readFile(app + u"/Contents/Helpers/ditto"_s));
        QCOMPARE(readFile(planted), found == "a link"_L1 ? "x" : "");
    }

    // A copy in ~/Applications installs 2.0 from the stand-in service. The swap starts 2.0, which
    // stays up, and removes the old copy, the staging folder and the helpers it ran; the launcher
    // entry the copy registered starts the new version from then on. The archive may give its
    // entries modes the seal does not allow (dropped), and where the test may mount one, the
    // temporary folder is on a file system that runs no programs: a tmpfs mounted noexec in a
    // mount namespace of the copy's own, which ends with the last process in it however the test
    // ends.
    void update() {
        const bool noexec = ::geteuid() == 0;
        const QString apps = home->path() + u"/Applications"_s, app = apps + u"/Pinlark.app"_s,
                      build = root->filePath(u"build"_s);
        makeBundle(apps, u"1.0"_s, {}, "stay");
        makeBundle(build, u"2.0"_s, QStringLiteral(PINLARK_TEST_KEY_PATH), "stay");
        QCOMPARE(writeZip(zip, filesOf(build + u"/Pinlark.app"_s, 07022)), QString());
        FileUserDefaults(FileUserDefaults::standardPath())
            .set(u"origin"_s, service->origin().toString());

        QStringList command{app + u"/Contents/MacOS/Pinlark"_s, u"--update"_s, u"2.0"_s,
                            u"releases/Pinlark-2.0.zip"_s,
                            QString::fromLatin1(*Sha256::ofFile(zip))};
        if (noexec)
            command =
                u"unshare -m --propagation private sh -c"_s.split(u' ') +
                u"mount -t tmpfs -o noexec tmpfs \"$TMPDIR\" && exec \"$@\"|sh"_s.split(u'|') +
                command;
        QProcess v1;
        v1.start(command.takeFirst(), command);
        QVERIFY(v1.waitForFinished(60000));
        QVERIFY2(v1.exitCode() == 0, v1.readAllStandardError().constData());
        QVERIFY(QTest::qWaitFor(
            [&] { return leftovers().isEmpty() && !QFile::exists(apps + u"/.Pinlark-swap"_s); },
            60000));
        QVERIFY(!QFile::exists(apps + u"/.Pinlark-previous.app"_s));
        // 2.0 started from the app's place, and at its start left the version recorded alone.
        QVERIFY(QTest::qWaitFor([&] { return runningPid(u"2.0"_s) != 0; }, 10000));
        FileUserDefaults defaults(FileUserDefaults::standardPath());
        QCOMPARE(defaults.string(u"otaFailedAtVersion"_s), u"1.0"_s);
        QCOMPARE(defaults.boolean(u"otaFailed"_s), std::nullopt);
        QCOMPARE(find(app, u"-perm /7022 ! -type l"_s), QString());
        QVERIFY(
            SealCodeSignature(testPublicKey).checkValidity(app, CodeSignature::CheckNestedCode));

        QFile::remove(pids + u"/2.0.pid"_s);
        const QString entry = home->data() + u"/applications/app.pinlark.Pinlark.desktop"_s;
        // Exec=<the program> %u
        const QString exec = QString::fromUtf8(readFile(entry)).section(u"\nExec="_s, 1);
        QVERIFY(QProcess::startDetached(exec.section(u" %u\n"_s, 0, 0)));
        QVERIFY(QTest::qWaitFor([&] { return runningPid(u"2.0"_s) != 0; }, 30000));
    }

    // A running 1.0 hands itself over to the swap script for a staged 2.0, without helpers, that
    // exits soon after it started, or that can't be copied in (it is gone). The script puts 1.0
    // back, over a stale backup of an earlier swap, marks the Mac and starts 1.0 again; the
    // staging folder stays with its log, the helpers it ran go. The path has pattern characters
    // and an apostrophe, which ends a quoted word of the shell.
    void rollback_data() {
        QTest::addColumn<bool>("staged");
        QTest::newRow("2.0 crashes") << true;
        QTest::newRow("2.0 can't be copied in") << false;
    }
    void rollback() {
        QFETCH(bool, staged);
        const QString apps = root->filePath(u"it's here/Apps (1) [x]+"_s),
                      app = apps + u"/Pinlark.app"_s, backup = apps + u"/.Pinlark-previous.app"_s,
                      work = root->filePath(u"it's here/pinlark-update-2.0-0A1B2C3D"_s);
        makeBundle(apps, u"1.0"_s, {}, "stay");
        if (staged)
            makeBundle(work + u"/unpacked"_s, u"2.0"_s, QStringLiteral(PINLARK_TEST_KEY_PATH),
                       "crash");
        QVERIFY(QDir().mkpath(backup + u"/Contents"_s) && QDir().mkpath(work));

        QProcess v1;
        v1.start(app + u"/Contents/MacOS/Pinlark"_s,
                 {u"--swap"_s, app, work + u"/unpacked/Pinlark.app"_s, work, u"2.0"_s});
        QVERIFY2(v1.waitForFinished(30000), v1.readAllStandardError().constData());
        QCOMPARE(v1.exitCode(), 0);
        // The last thing the script does is start 1.0 from the app's place, which checks the
        // mark as it starts.
        QVERIFY(QTest::qWaitFor([&] { return runningPid(u"1.0"_s) != 0; }, 60000));
        QVERIFY(!QFile::exists(backup));
        QVERIFY(QTest::qWaitFor([&] { return !QFile::exists(apps + u"/.Pinlark-swap"_s); }));
        QVERIFY(QFileInfo(work + u"/swap.log"_s).size() > 0);
        FileUserDefaults defaults(FileUserDefaults::standardPath());
        QCOMPARE(defaults.boolean(u"otaFailed"_s), true);
        QCOMPARE(defaults.string(u"otaFailedAtVersion"_s), u"1.0"_s);

        // A launch on another version lifts the mark.
        Platform::Services real;
        real.defaults = std::make_unique<FileUserDefaults>(FileUserDefaults::standardPath());
        FakePlatform fakes = FakePlatform::install(std::move(real));
        fakes.bundle->infoDictionary = {{QStringLiteral("CFBundleShortVersionString"), "2.1"}};
        Installer::reconcile();
        QCOMPARE(defaults.boolean(QStringLiteral("otaFailed")), std::nullopt);
        QCOMPARE(defaults.string(QStringLiteral("otaFailedAtVersion")), std::nullopt);
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestInstaller)
#include "tst_installer.moc"
