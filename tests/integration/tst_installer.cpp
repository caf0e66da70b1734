#include "DevService.h"
#include "PagePeer.h"
#include "TestSupport.h"
#include "Zip.h"
#include "platform/PropertyList.h"
#include "platform/Sha256.h"
#include "platform/linux/FileUserDefaults.h"
#include "platform/linux/Seal.h"
#include "platform/linux/SealCodeSignature.h"
#include "update/Failure.h"
#include "update/Installer.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <csignal>
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

} // namespace

// Installing an update end to end: the archive downloaded from the stand-in service or odd
// peers, verified and staged, and the swap of the running bundle by the script.
class TestInstaller : public QObject {
    Q_OBJECT

    FakePlatform fakes;
    std::unique_ptr<TestHome> home;
    std::unique_ptr<QTemporaryDir> root;
    QByteArray savedTmp;
    QString staging; // where staging folders go (TMPDIR)
    QString releases;
    QString base; // holds an apostrophe, so every path of a swap must be quoted right
    QString pids;

    // A bundle at `folder`/Pinlark.app: version, identifier, an executable, sealed and signed
    // with the private key at `key` unless that is empty.
    void makeBundle(const QString& folder, const QString& version, const QString& identifier,
                    const QString& key) {
        const QString app = folder + QStringLiteral("/Pinlark.app");
        QVERIFY(writeInfoPlist(app, version, identifier));
        QVERIFY(writeFile(app + QStringLiteral("/Contents/MacOS/Pinlark"), "#!/bin/sh\nexit 0\n",
                          0755));
        QVERIFY(writeFile(app + QStringLiteral("/Contents/Resources/MenuBarIcon.png"), "png"));
        if (key.isEmpty())
            return;
        QCOMPARE(Seal::write(app), QString());
        QCOMPARE(Seal::sign(app, key), QString());
    }

    QStringList leftovers() const {
        return QDir(staging).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    // Runs an installation and tells how it ended: a Failure's kind, "error: <text>", or "ok".
    QString install(const QString& version, const QString& path,
                    const std::optional<QString>& sha256, bool stillWanted = false) {
        try {
            runTask(Installer::install(version, path, sha256, [=] { return stillWanted; }));
            return QStringLiteral("ok");
        } catch (const Failure& f) {
            return kindName(f.kind());
        } catch (const Error& e) {
            return QStringLiteral("error: ") + e.localizedDescription();
        }
    }

    // A bundle at `folder`/Pinlark.app whose executable is the test's stand-in app, which stays
    // up or exits at once; with the built helpers or none.
    void makeSwapBundle(const QString& folder, const QString& version, bool stays, bool helpers) {
        makeBundle(folder, version, u"app.pinlark.Pinlark"_s, QString());
        const QString app = folder + u"/Pinlark.app"_s;
        QVERIFY(writeFile(app + u"/Contents/Resources/behaviour"_s, stays ? "stay" : "exit"));
        QVERIFY(writeFile(app + u"/Contents/MacOS/Pinlark"_s,
                          readFile(QStringLiteral(PINLARK_SWAP_APP_PATH)), 0755));
        if (helpers)
            QVERIFY(QFile::link(QStringLiteral(PINLARK_APP_PATH "/Contents/Helpers"),
                                app + u"/Contents/Helpers"_s));
    }

    // The pid a running stand-in app wrote for `version`, or 0.
    qint64 runningPid(const QString& version) {
        const qint64 pid = readFile(pids + u'/' + version + u".pid"_s).toLongLong();
        return pid > 0 && ::kill(pid_t(pid), 0) == 0 ? pid : 0;
    }

private Q_SLOTS:
    void init() {
        TestState::reset();
        home = std::make_unique<TestHome>();
        root = std::make_unique<QTemporaryDir>();
        staging = root->filePath(QStringLiteral("tmp"));
        releases = root->filePath(QStringLiteral("releases"));
        base = root->filePath(QStringLiteral("it's here"));
        pids = root->filePath(QStringLiteral("pids"));
        for (const QString& folder : {staging, releases, pids, base + QStringLiteral("/tmp")})
            QDir().mkpath(folder);
        qputenv("PINLARK_SWAP_PIDS", pids.toLocal8Bit());
        savedTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", staging.toLocal8Bit());

        // The running copy: a bundle in a writable folder whose helpers are the built ones.
        const QString app = root->filePath(QStringLiteral("Applications/Pinlark.app"));
        QDir().mkpath(app + QStringLiteral("/Contents"));
        QFile::link(QStringLiteral(PINLARK_APP_PATH "/Contents/Helpers"),
                    app + QStringLiteral("/Contents/Helpers"));
        Platform::Services real;
        real.codeSignature = std::make_unique<SealCodeSignature>();
        fakes = FakePlatform::install(std::move(real));
        fakes.bundle->bundlePath = app;
        fakes.bundle->infoDictionary = {{QStringLiteral("CFBundleShortVersionString"), "1.0"}};
    }
    void cleanup() {
        // Whatever runs from the test's folder ends with the test: a swap script, either version.
        for (const QString& entry : QDir(u"/proc"_s).entryList(QDir::Dirs))
            if (const int pid = entry.toInt();
                pid > 0 &&
                readFile(u"/proc/"_s + entry + u"/cmdline"_s).contains(root->path().toUtf8()))
                ::kill(pid, SIGKILL);
        QCOMPARE(Installer::isBusy(), false);
        QCOMPARE(leftovers(), QStringList());
        qputenv("TMPDIR", savedTmp);
        root.reset();
        home.reset();
    }

    // `change`: what is done to the bundle, the archive or the digest; "deferred" means the
    // archive passed verification.
    void verification_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("outcome");
        const auto row = [](const char* change, const char* outcome) {
            QTest::newRow(change) << QString::fromUtf8(change) << QString::fromUtf8(outcome);
        };
        row("good", "deferred");
        row("wrong digest", "corrupt");
        row("no .app", "unpack");
        row("equal version", "notAnUpgrade");
        row("other identifier", "unpack");
        row("unsealed", "brokenSignature");
        row("signed by another key", "brokenSignature");
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
        const QString version = is("equal version") ? u"1.0"_qs : u"2.0"_qs;
        QString key = QStringLiteral(PINLARK_SIGNING_KEY_PATH);
        if (is("signed by another key")) {
            key = root->filePath(u"other.pem"_s);
            QVERIFY(writeSigningKey(key));
        }
        makeBundle(build, version,
                   is("other identifier") ? u"com.example.Other"_qs : u"app.pinlark.Pinlark"_qs,
                   is("unsealed") ? QString() : key);
        if (is("tampered file"))
            QVERIFY(writeFile(app + QStringLiteral("/Contents/Resources/MenuBarIcon.png"), "gif"));
        QList<ZipEntry> entries = zipEntriesOf(build, app);
        if (is("no .app"))
            for (ZipEntry& e : entries)
                e.path.replace(QStringLiteral("Pinlark.app"), QStringLiteral("Pinlark"));
        const QString bad = QStringLiteral("Pinlark.app/Contents/Resources/bad");
        if (is("entry with ../"))
            entries.append(ZipEntry{QStringLiteral("Pinlark.app/../../escaped")});
        if (is("absolute entry"))
            entries.append(ZipEntry{staging + QStringLiteral("/absolute")});
        if (is("symlink leaving"))
            entries.append(
                ZipEntry{bad, ZipEntry::Type::Symlink, {}, QStringLiteral("../../../../etc")});
        if (is("hard link"))
            entries.append(
                ZipEntry{bad, ZipEntry::Type::Hardlink, {}, QStringLiteral("/etc/passwd")});
        const QString zip = releases + QStringLiteral("/Pinlark-2.0.zip");
        QCOMPARE(writeZip(zip, entries), QString());

        const QString right = QString::fromLatin1(*Sha256::ofFile(zip));
        const QString sha = is("wrong digest") ? QString(64, QLatin1Char('0')) : right;
        DevService service({QStringLiteral("--releases"), releases});
        fakes.defaults->set(QStringLiteral("origin"), service.origin().toString());
        QCOMPARE(install(version, QStringLiteral("/releases/Pinlark-2.0.zip/"), sha), outcome);
        QVERIFY(!QFile::exists(staging + QStringLiteral("/absolute")));
        QVERIFY(!QFile::exists(root->filePath(QStringLiteral("escaped"))));
    }

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
        const QLatin1String tag(QTest::currentDataTag());
        std::unique_ptr<DevService> service;
        PagePeer peer;
        if (answer.isEmpty()) {
            service = std::make_unique<DevService>(QStringList{"--releases", releases});
            fakes.defaults->set(QStringLiteral("origin"), service->origin().toString());
        } else {
            peer.fallback = answer;
            peer.keepOpen = keepOpen;
            fakes.defaults->set(QStringLiteral("origin"), peer.url().toString());
            Installer::s_downloadTimeout = 300ms;
        }
        const QString zip = releases + QStringLiteral("/Pinlark-2.0.zip");
        if (tag == QLatin1String("zip bomb")) { // 2 GiB of zeros, a few megabytes compressed
            ZipEntry zeros{QStringLiteral("Pinlark.app/Contents/Resources/zeros")};
            zeros.zeros = qint64(2) << 30;
            QCOMPARE(writeZip(zip, {zeros}), QString());
            QVERIFY(QFileInfo(zip).size() < 8 * 1024 * 1024);
        }
        int changes = 0;
        Installer::onChange = [&changes] { ++changes; };
        QCOMPARE(install(QStringLiteral("2.0"), QStringLiteral("releases/Pinlark-2.0.zip"), {}),
                 outcome);
        QCOMPARE(changes, 2);
    }

    void secondInstallIsDeferred() {
        PagePeer silent;
        silent.fallback.clear();
        fakes.defaults->set(QStringLiteral("origin"), silent.url().toString());
        Installer::s_downloadTimeout = 2s;
        auto first = Installer::install(QStringLiteral("2.0"), QStringLiteral("a.zip"), {});
        QVERIFY(Installer::isBusy());
        QCOMPARE(install(QStringLiteral("2.0"), QStringLiteral("a.zip"), {}),
                 QStringLiteral("deferred"));
        QVERIFY(Installer::isBusy());
        QVERIFY_THROWS_EXCEPTION(Failure, runTask(std::move(first)));
    }

    // Where the running bundle is (relative to the test's folder; "": in a folder that cannot
    // be written) and what keeps an update from being installed there.
    void blocker() {
        const QString bundle = u"Applications/Pinlark.app"_s,
                      moved = u"AppTranslocation/X/Pinlark.app"_s;
        const std::tuple<bool, QString, QString> cases[] = {
            {false, bundle, {}},
            {true, moved,
             u"An earlier update had to be rolled back on this Mac, so Pinlark is leaving the update to you."_s},
            {false, u"build/src"_s, u"Pinlark isn't running from an application bundle."_s},
            {false, moved,
             u"Pinlark is running from a temporary copy. Move it to your Applications folder first."_s},
            // Tests run as root, who may write into any folder that exists.
            {false, {}, u"Pinlark can't write to %1."_s.arg(root->filePath(u"missing"_s))}};
        for (const auto& [rolledBack, path, message] : cases) {
            fakes.defaults->set(u"otaFailed"_s, rolledBack);
            QDir().mkpath(root->filePath(path));
            fakes.bundle->bundlePath =
                root->filePath(path.isEmpty() ? u"missing/Pinlark.app"_s : path);
            QCOMPARE(Installer::blocker().value_or(QString()), message);
        }
    }

    // A running 1.0 in `folder` hands itself over to the swap script for a staged 2.0 that stays
    // up, and is kept, or exits, and is rolled back.
    void swap_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("stays");
        QTest::addColumn<bool>("helpers"); // whether 2.0 carries helpers
        QTest::newRow("stays up") << u"Applications"_s << true << true;
        QTest::newRow("exits") << u"Applications"_s << false << true;
        // Pattern characters, and an apostrophe, which ends a quoted word of the shell.
        QTest::newRow("odd path") << u"Apps (1) [x]+ it's"_s << true << true;
        QTest::newRow("no helpers") << u"Applications"_s << false << false;
    }
    void swap() {
        QFETCH(QString, folder);
        QFETCH(bool, stays);
        QFETCH(bool, helpers);
        const QString apps = base + u'/' + folder, app = apps + u"/Pinlark.app"_s,
                      backup = apps + u"/.Pinlark-previous.app"_s,
                      work = base + u"/tmp/pinlark-update-2.0-0A1B2C3D"_s,
                      staged = work + u"/unpacked/Pinlark.app"_s, log = work + u"/swap.log"_s,
                      kept = base + u"/swap.log"_s;
        makeSwapBundle(apps, u"1.0"_s, true, true);
        makeSwapBundle(work + u"/unpacked"_s, u"2.0"_s, stays, helpers);
        // A stale backup of an earlier interrupted swap.
        QVERIFY(QDir().mkpath(backup + u"/Contents"_s));
        // The log is truncated, not replaced, so a second link keeps it past the script's clean-up.
        QVERIFY(writeFile(log, {}));
        QCOMPARE(::link(QFile::encodeName(log).constData(), QFile::encodeName(kept).constData()),
                 0);

        QProcess v1;
        v1.start(app + u"/Contents/MacOS/Pinlark"_s, {u"--swap"_s, app, staged, work, u"2.0"_s});
        QVERIFY2(v1.waitForFinished(30000), v1.readAllStandardError().constData());
        QCOMPARE(v1.exitCode(), 0);
        QString text;
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         text = QString::fromUtf8(readFile(kept));
                         return text.contains(u"] updated"_s) || text.contains(u"rolling back"_s);
                     },
                     90000),
                 qPrintable(text));
        QVERIFY2(text.contains(stays ? u"] updated"_s
                                     : u"] the new build is not running — rolling back"_s),
                 qPrintable(text));
        // The version kept runs from the app's place, and only that one.
        const QString now = stays ? u"2.0"_s : u"1.0"_s;
        QVERIFY(QTest::qWaitFor([&] { return runningPid(now) != 0; }, 20000));
        QVERIFY(!runningPid(stays ? u"1.0"_s : u"2.0"_s));
        QCOMPARE(readPropertyList(app + u"/Contents/Info.plist"_s)
                     .value_or(QVariant())
                     .toMap()
                     .value(u"CFBundleShortVersionString"_s)
                     .toString(),
                 now);
        // The backup goes either way; the staging folder, with the log, only after an update.
        QVERIFY(QTest::qWaitFor(
            [&] { return !QFile::exists(backup) && QFile::exists(work) != stays; }, 10000));
        FileUserDefaults defaults(FileUserDefaults::standardPath());
        QCOMPARE(defaults.string(u"otaFailedAtVersion"_s), u"1.0"_s);
        QCOMPARE(defaults.boolean(u"otaFailed"_s).value_or(false), !stays);
        if (stays)
            return;

        // The next launch, on the version rolled back to, keeps the mark; another clears it.
        Platform::Services real;
        real.defaults = std::make_unique<FileUserDefaults>(FileUserDefaults::standardPath());
        FakePlatform fakes = FakePlatform::install(std::move(real));
        fakes.bundle->infoDictionary = {{QStringLiteral("CFBundleShortVersionString"), "1.0"}};
        Installer::reconcile();
        QCOMPARE(defaults.boolean(QStringLiteral("otaFailed")), true);
        fakes.bundle->infoDictionary = {{QStringLiteral("CFBundleShortVersionString"), "2.1"}};
        Installer::reconcile();
        QCOMPARE(defaults.boolean(QStringLiteral("otaFailed")), std::nullopt);
        QCOMPARE(defaults.string(QStringLiteral("otaFailedAtVersion")), std::nullopt);
    }

    // A copy unzipped into ~/Applications registers its launcher entry when it starts; once it
    // has updated itself from the stand-in service, that entry starts the new version.
    void updatedUserCopyKeepsItsLauncher() {
        const QString app = home->path() + u"/Applications/Pinlark.app"_s,
                      next = root->filePath(u"build/Pinlark.app"_s);
        makeSwapBundle(home->path() + u"/Applications"_s, u"1.0"_s, true, true);
        QVERIFY(writeInfoPlist(next, u"2.0"_s));
        QVERIFY(writeFile(next + u"/Contents/Resources/behaviour"_s, "stay"));
        QVERIFY(QDir().mkpath(next + u"/Contents/MacOS"_s));
        QVERIFY(QFile::copy(QStringLiteral(PINLARK_SWAP_APP_PATH),
                            next + u"/Contents/MacOS/Pinlark"_s));
        QCOMPARE(Seal::write(next), QString());
        QCOMPARE(Seal::sign(next, QStringLiteral(PINLARK_SIGNING_KEY_PATH)), QString());
        const QString zip = releases + u"/Pinlark-2.0.zip"_s;
        QCOMPARE(writeZip(zip, zipEntriesOf(root->filePath(u"build"_s), next)), QString());
        DevService service({u"--releases"_s, releases});
        FileUserDefaults(FileUserDefaults::standardPath())
            .set(u"origin"_s, service.origin().toString());

        QProcess v1;
        v1.start(app + u"/Contents/MacOS/Pinlark"_s,
                 {u"--update"_s, u"2.0"_s, u"releases/Pinlark-2.0.zip"_s,
                  QString::fromLatin1(*Sha256::ofFile(zip))});
        QVERIFY(v1.waitForFinished(60000));
        QVERIFY2(v1.exitCode() == 0, v1.readAllStandardError().constData());
        // Started by the swap, which removes its folder once it has seen 2.0 stay up.
        QVERIFY(QTest::qWaitFor([&] { return leftovers().isEmpty(); }, 60000));
        const qint64 started = runningPid(u"2.0"_s);
        QVERIFY(started != 0 && ::kill(pid_t(started), SIGTERM) == 0);
        QFile::remove(pids + u"/2.0.pid"_s);

        QFile entry(home->data() + u"/applications/app.pinlark.Pinlark.desktop"_s);
        QVERIFY(entry.open(QIODevice::ReadOnly));
        // Exec="<the program>" %u
        const QString exec = QString::fromUtf8(entry.readAll()).section(u"\nExec=\""_s, 1);
        QVERIFY(QProcess::startDetached(exec.section(u'"', 0, 0)));
        QVERIFY(QTest::qWaitFor([&] { return runningPid(u"2.0"_s) != 0; }, 30000));
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestInstaller)
#include "tst_installer.moc"
