#include "DevService.h"
#include "LogCapture.h"
#include "RawPeer.h"
#include "TestSupport.h"
#include "Zip.h"
#include "platform/PropertyList.h"
#include "platform/Sha256.h"
#include "platform/fake/FakePlatform.h"
#include "platform/linux/Seal.h"
#include "platform/linux/SealCodeSignature.h"
#include "update/Failure.h"
#include "update/Installer.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <sys/stat.h>

using namespace std::chrono_literals;

namespace pinlark {

namespace {

QString kindName(Failure::Kind kind) {
    static const char* const names[] = {"blocked",  "wrongVersion",   "notAnUpgrade",
                                        "deferred", "download",       "corrupt",
                                        "unpack",   "brokenSignature"};
    return QLatin1String(names[int(kind)]);
}

bool writeFile(const QString& path, const QByteArray& bytes, int mode = 0644) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return false;
    file.close();
    return ::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0;
}

} // namespace

class TestInstaller : public QObject {
    Q_OBJECT

    FakePlatform fakes;
    std::unique_ptr<TestHome> home;
    std::unique_ptr<QTemporaryDir> root;
    QByteArray savedTmp;
    QString staging; // where staging folders go (TMPDIR)
    QString releases;

    // A bundle at `folder`/Pinlark.app: version, identifier, an executable, sealed unless not.
    void makeBundle(const QString& folder, const QString& version, const QString& identifier,
                    bool sealed) {
        const QString app = folder + QStringLiteral("/Pinlark.app");
        QVERIFY(writeFile(app + QStringLiteral("/Contents/Info.plist"),
                          xmlPropertyList({{QStringLiteral("CFBundleShortVersionString"), version},
                                           {QStringLiteral("CFBundleIdentifier"), identifier}})));
        QVERIFY(writeFile(app + QStringLiteral("/Contents/MacOS/Pinlark"), "#!/bin/sh\nexit 0\n",
                          0755));
        QVERIFY(writeFile(app + QStringLiteral("/Contents/Resources/MenuBarIcon.png"), "png"));
        if (sealed)
            QCOMPARE(Seal::write(app), QString());
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

private Q_SLOTS:
    void init() {
        TestState::reset();
        home = std::make_unique<TestHome>();
        root = std::make_unique<QTemporaryDir>();
        staging = root->filePath(QStringLiteral("tmp"));
        releases = root->filePath(QStringLiteral("releases"));
        QDir().mkpath(staging);
        QDir().mkpath(releases);
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
        QCOMPARE(Installer::isBusy(), false);
        QCOMPARE(leftovers(), QStringList());
        qputenv("TMPDIR", savedTmp);
        root.reset();
        home.reset();
    }

    void verification_data() {
        QTest::addColumn<QString>("bundleVersion");
        QTest::addColumn<QString>("expectedVersion");
        QTest::addColumn<QString>("identifier");
        QTest::addColumn<QString>("change");  // what is done to the bundle or the archive
        QTest::addColumn<QString>("digest");  // right, RIGHT, empty, wrong, none
        QTest::addColumn<QString>("outcome"); // "deferred" means it passed verification
        const QString id = QStringLiteral("app.pinlark.Pinlark");
        QTest::newRow("good") << "2.0"
                              << "2.0" << id << ""
                              << "right"
                              << "deferred";
        QTest::newRow("digest in upper case") << "2.0"
                                              << "2.0" << id << ""
                                              << "RIGHT"
                                              << "deferred";
        QTest::newRow("no digest") << "2.0"
                                   << "2.0" << id << ""
                                   << "none"
                                   << "deferred";
        QTest::newRow("empty digest skipped") << "2.0"
                                              << "2.0" << id << ""
                                              << "empty"
                                              << "deferred";
        QTest::newRow("wrong digest") << "2.0"
                                      << "2.0" << id << ""
                                      << "wrong"
                                      << "corrupt";
        QTest::newRow("no .app") << "2.0"
                                 << "2.0" << id << "no app"
                                 << "right"
                                 << "unpack";
        QTest::newRow("1.4 against 1.4.0") << "1.4"
                                           << "1.4.0" << id << ""
                                           << "right"
                                           << "wrongVersion";
        QTest::newRow("equal version") << "1.0"
                                       << "1.0" << id << ""
                                       << "right"
                                       << "notAnUpgrade";
        QTest::newRow("other identifier") << "2.0"
                                          << "2.0"
                                          << "com.example.Other"
                                          << ""
                                          << "right"
                                          << "unpack";
        QTest::newRow("unsealed") << "2.0"
                                  << "2.0" << id << "unsealed"
                                  << "right"
                                  << "brokenSignature";
        QTest::newRow("tampered file") << "2.0"
                                       << "2.0" << id << "tampered"
                                       << "right"
                                       << "brokenSignature";
        QTest::newRow("extra file") << "2.0"
                                    << "2.0" << id << "extra"
                                    << "right"
                                    << "brokenSignature";
        QTest::newRow("mode changed") << "2.0"
                                      << "2.0" << id << "mode"
                                      << "right"
                                      << "brokenSignature";
        QTest::newRow("entry with ../") << "2.0"
                                        << "2.0" << id << "dotdot"
                                        << "right"
                                        << "unpack";
        QTest::newRow("absolute entry") << "2.0"
                                        << "2.0" << id << "absolute"
                                        << "right"
                                        << "unpack";
        QTest::newRow("symlink leaving") << "2.0"
                                         << "2.0" << id << "symlink"
                                         << "right"
                                         << "unpack";
        // Zip has no hard links: such an entry arrives as an empty file the seal doesn't know.
        QTest::newRow("hard link") << "2.0"
                                   << "2.0" << id << "hardlink"
                                   << "right"
                                   << "brokenSignature";
    }
    void verification() {
        QFETCH(QString, bundleVersion);
        QFETCH(QString, expectedVersion);
        QFETCH(QString, identifier);
        QFETCH(QString, change);
        QFETCH(QString, digest);
        QFETCH(QString, outcome);

        const QString build = root->filePath(QStringLiteral("build"));
        makeBundle(build, bundleVersion, identifier, change != QLatin1String("unsealed"));
        const QString app = build + QStringLiteral("/Pinlark.app");
        if (change == QLatin1String("tampered"))
            QVERIFY(writeFile(app + QStringLiteral("/Contents/Resources/MenuBarIcon.png"), "gif"));
        if (change == QLatin1String("extra"))
            QVERIFY(writeFile(app + QStringLiteral("/Contents/Resources/extra.txt"), "x"));
        if (change == QLatin1String("mode"))
            QVERIFY(QFile::setPermissions(app + QStringLiteral("/Contents/MacOS/Pinlark"),
                                          QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        QList<ZipEntry> entries = zipEntriesOf(build, app);
        if (change == QLatin1String("no app"))
            for (ZipEntry& e : entries)
                e.path.replace(QStringLiteral("Pinlark.app"), QStringLiteral("Pinlark"));
        ZipEntry bad;
        bad.path = QStringLiteral("Pinlark.app/Contents/Resources/bad");
        if (change == QLatin1String("dotdot"))
            bad.path = QStringLiteral("Pinlark.app/../../escaped");
        else if (change == QLatin1String("absolute"))
            bad.path = staging + QStringLiteral("/absolute");
        else if (change == QLatin1String("symlink"))
            bad = {bad.path, ZipEntry::Type::Symlink, {}, QStringLiteral("../../../../etc"), 0777};
        else if (change == QLatin1String("hardlink"))
            bad = {bad.path, ZipEntry::Type::Hardlink, {}, QStringLiteral("/etc/passwd"), 0644};
        if (QStringList{"dotdot", "absolute", "symlink", "hardlink"}.contains(change))
            entries.append(bad);
        const QString zip = releases + QStringLiteral("/Pinlark-2.0.zip");
        QCOMPARE(writeZip(zip, entries), QString());

        const QString right = QString::fromLatin1(*Sha256::ofFile(zip));
        std::optional<QString> sha;
        if (digest == QLatin1String("right"))
            sha = right;
        else if (digest == QLatin1String("RIGHT"))
            sha = right.toUpper();
        else if (digest == QLatin1String("empty"))
            sha = QString();
        else if (digest == QLatin1String("wrong"))
            sha = QString(64, QLatin1Char('0'));

        DevService service({QStringLiteral("--releases"), releases});
        fakes.defaults->set(QStringLiteral("origin"), service.origin().toString());
        LogCapture log;
        QCOMPARE(install(expectedVersion, QStringLiteral("/releases/Pinlark-2.0.zip/"), sha),
                 outcome);
        if (outcome == QLatin1String("corrupt"))
            QCOMPARE(log.lines, QStringList{QStringLiteral("[updater] checksum mismatch: got %1, "
                                                           "expected %2")
                                                .arg(right, *sha)});
        QVERIFY(!QFile::exists(staging + QStringLiteral("/absolute")));
        QVERIFY(!QFile::exists(root->filePath(QStringLiteral("escaped"))));
    }

    void zipBombIsRefused() {
        // 2 GiB of zeros, a few megabytes compressed.
        const QString zip = releases + QStringLiteral("/Pinlark-2.0.zip");
        ZipEntry zeros;
        zeros.path = QStringLiteral("Pinlark.app/Contents/Resources/zeros");
        zeros.zeros = qint64(2) << 30;
        QCOMPARE(writeZip(zip, {zeros}), QString());
        QVERIFY(QFileInfo(zip).size() < 8 * 1024 * 1024);
        DevService service({QStringLiteral("--releases"), releases});
        fakes.defaults->set(QStringLiteral("origin"), service.origin().toString());
        QCOMPARE(install(QStringLiteral("2.0"), QStringLiteral("releases/Pinlark-2.0.zip"), {}),
                 QStringLiteral("unpack"));
    }

    void downloadFailures_data() {
        QTest::addColumn<QByteArray>("answer"); // of a raw peer; empty: the stand-in
        QTest::addColumn<bool>("keepOpen");
        QTest::addColumn<bool>("stagingUnwritable");
        QTest::newRow("404") << QByteArray() << false << false;
        QTest::newRow("cut short") << RawPeer::http("200 OK", "PK\x03\x04", 4096) << false << false;
        QTest::newRow("stalled") << RawPeer::http("200 OK", "PK\x03\x04", 4096) << true << false;
        QTest::newRow("staging folder can't be written") << QByteArray() << false << true;
    }
    void downloadFailures() {
        QFETCH(QByteArray, answer);
        QFETCH(bool, keepOpen);
        QFETCH(bool, stagingUnwritable);
        std::unique_ptr<DevService> service;
        std::unique_ptr<RawPeer> peer;
        if (answer.isEmpty()) {
            service = std::make_unique<DevService>(QStringList{"--releases", releases});
            fakes.defaults->set(QStringLiteral("origin"), service->origin().toString());
        } else {
            peer = std::make_unique<RawPeer>(answer, keepOpen);
            fakes.defaults->set(QStringLiteral("origin"), peer->origin().toString());
        }
        if (stagingUnwritable) {
            // A file where the temporary folder should be.
            const QString file = root->filePath(QStringLiteral("not-a-folder"));
            QVERIFY(writeFile(file, "x"));
            QVERIFY(writeZip(releases + QStringLiteral("/Pinlark-2.0.zip"), {}).isEmpty());
            qputenv("TMPDIR", file.toLocal8Bit());
        }
        Installer::s_downloadTimeout = 300ms;
        int changes = 0;
        Installer::onChange = [&changes] { ++changes; };
        QCOMPARE(install(QStringLiteral("2.0"), QStringLiteral("releases/Pinlark-2.0.zip"), {}),
                 QStringLiteral("download"));
        QCOMPARE(changes, 2);
        qputenv("TMPDIR", staging.toLocal8Bit());
    }

    void secondInstallIsDeferred() {
        RawPeer silent{QByteArray()};
        fakes.defaults->set(QStringLiteral("origin"), silent.origin().toString());
        Installer::s_downloadTimeout = 2s;
        auto first = Installer::install(QStringLiteral("2.0"), QStringLiteral("a.zip"), {});
        QVERIFY(Installer::isBusy());
        QCOMPARE(install(QStringLiteral("2.0"), QStringLiteral("a.zip"), {}),
                 QStringLiteral("deferred"));
        QVERIFY(Installer::isBusy());
        QVERIFY_THROWS_EXCEPTION(Failure, runTask(std::move(first)));
    }

    void blocker_data() {
        QTest::addColumn<bool>("rolledBack");
        QTest::addColumn<QString>("bundle"); // relative to the test's folder
        QTest::addColumn<bool>("writable");
        QTest::addColumn<QString>("message"); // %1: the bundle's folder
        QTest::newRow("fine") << false << "Applications/Pinlark.app" << true << "";
        QTest::newRow("rolled back, even translocated")
            << true << "AppTranslocation/X/Pinlark.app" << true
            << "An earlier update had to be rolled back on this Mac, so Pinlark is leaving the "
               "update to you.";
        QTest::newRow("not a bundle")
            << false << "build/src" << true << "Pinlark isn't running from an application bundle.";
        QTest::newRow("upper-case extension") << false << "Applications/Pinlark.APP" << true
                                              << "Pinlark isn't running from an application "
                                                 "bundle.";
        QTest::newRow("translocated") << false << "AppTranslocation/X/Pinlark.app" << true
                                      << "Pinlark is running from a temporary copy. Move it to "
                                         "your Applications folder first.";
        QTest::newRow("folder not writable")
            << false << "" << false << "Pinlark can't write to %1.";
    }
    void blocker() {
        QFETCH(bool, rolledBack);
        QFETCH(QString, bundle);
        QFETCH(bool, writable);
        QFETCH(QString, message);
        if (rolledBack)
            fakes.defaults->set(QStringLiteral("otaFailed"), true);
        const QString path = root->filePath(bundle);
        QDir().mkpath(path);
        fakes.bundle->bundlePath = path;
        if (!writable) // tests run as root, who may write into any folder that exists
            fakes.bundle->bundlePath = root->filePath(QStringLiteral("missing/Pinlark.app"));
        const QString expected =
            message.contains(QLatin1String("%1"))
                ? message.arg(QFileInfo(fakes.bundle->bundlePath).absolutePath())
                : message;
        QCOMPARE(Installer::blocker().value_or(QString()), expected);
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestInstaller)
#include "tst_installer.moc"
