#include "LogCapture.h"
#include "TestSupport.h"
#include "platform/PropertyList.h"
#include "platform/fake/FakePlatform.h"
#include "platform/linux/FileUserDefaults.h"
#include "update/Installer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <unistd.h>

namespace pinlark {

class TestSwap : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHome> home;
    std::unique_ptr<QTemporaryDir> root;
    QString base; // holds an apostrophe, so every path must be quoted right
    QString pids;

    // A bundle at `app` whose executable is the test's stand-in app.
    void makeBundle(const QString& app, const QString& version, const QByteArray& behaviour) {
        const auto write = [&](const char* path, const QByteArray& bytes) {
            QFile file(app + QLatin1String(path));
            return QDir().mkpath(QFileInfo(file).absolutePath()) &&
                   file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
        };
        QVERIFY(write("/Contents/Info.plist",
                      xmlPropertyList({{QStringLiteral("CFBundleShortVersionString"), version},
                                       {QStringLiteral("CFBundleIdentifier"),
                                        QStringLiteral("app.pinlark.Pinlark")}})));
        QVERIFY(write("/Contents/Resources/behaviour", behaviour));
        QVERIFY(QDir().mkpath(app + QStringLiteral("/Contents/MacOS")));
        QVERIFY(QFile::copy(QStringLiteral(PINLARK_SWAP_APP_PATH),
                            app + QStringLiteral("/Contents/MacOS/Pinlark")));
        QVERIFY(QFile::link(QStringLiteral(PINLARK_APP_PATH "/Contents/Helpers"),
                            app + QStringLiteral("/Contents/Helpers")));
    }

    QString versionAt(const QString& app) {
        return readPropertyList(app + QStringLiteral("/Contents/Info.plist"))
            .value_or(QVariant())
            .toMap()
            .value(QStringLiteral("CFBundleShortVersionString"))
            .toString();
    }

    // The pid a running stand-in app wrote for `version`, or 0.
    qint64 runningPid(const QString& version) {
        QFile file(pids + QLatin1Char('/') + version + QStringLiteral(".pid"));
        if (!file.open(QIODevice::ReadOnly))
            return 0;
        const qint64 pid = file.readAll().toLongLong();
        return pid > 0 && ::kill(pid_t(pid), 0) == 0 ? pid : 0;
    }

    struct Swap {
        QString app, staged, work, backup, log;
    };

    // Lays out a running v1 and a staged v2, lets v1 run the swap and end, and waits until the
    // script has written `last` to its log. Gives the paths and the whole log.
    Swap runSwap(const QByteArray& v2Behaviour, const QString& last, QString* logText) {
        Swap s;
        s.app = base + QStringLiteral("/Applications/Pinlark.app");
        s.backup = base + QStringLiteral("/Applications/.Pinlark-previous.app");
        s.work = base + QStringLiteral("/tmp/pinlark-update-2.0-0A1B2C3D");
        s.staged = s.work + QStringLiteral("/unpacked/Pinlark.app");
        s.log = s.work + QStringLiteral("/swap.log");
        makeBundle(s.app, QStringLiteral("1.0"), "stay");
        makeBundle(s.staged, QStringLiteral("2.0"), v2Behaviour);
        // A stale backup of an earlier interrupted swap.
        QDir().mkpath(s.backup + QStringLiteral("/Contents"));
        // The log is truncated, not replaced, so a second link keeps it past the script's
        // clean-up.
        QFile(s.log).open(QIODevice::WriteOnly);
        const QString kept = base + QStringLiteral("/swap.log");
        if (::link(QFile::encodeName(s.log).constData(), QFile::encodeName(kept).constData()) != 0)
            qWarning("no hard link for the log");

        QProcess v1;
        v1.start(s.app + QStringLiteral("/Contents/MacOS/Pinlark"),
                 {QStringLiteral("--swap"), s.app, s.staged, s.work, QStringLiteral("2.0")});
        if (!v1.waitForFinished(30000) || v1.exitCode() != 0)
            qWarning() << "the app did not end after the swap:" << v1.readAllStandardError();
        QFile log(kept);
        [[maybe_unused]] const bool ended = QTest::qWaitFor(
            [&] {
                log.open(QIODevice::ReadOnly);
                *logText = QString::fromUtf8(log.readAll());
                log.close();
                return logText->contains(last);
            },
            90000);
        return s;
    }

private Q_SLOTS:
    void init() {
        TestState::reset();
        home = std::make_unique<TestHome>();
        root = std::make_unique<QTemporaryDir>();
        base = root->filePath(QStringLiteral("it's here"));
        pids = root->filePath(QStringLiteral("pids"));
        QDir().mkpath(pids);
        QDir().mkpath(base + QStringLiteral("/tmp"));
        qputenv("PINLARK_SWAP_PIDS", pids.toLocal8Bit());
    }
    void cleanup() {
        for (const QString& version : {QStringLiteral("1.0"), QStringLiteral("2.0")})
            if (const qint64 pid = runningPid(version))
                ::kill(pid_t(pid), SIGTERM);
        root.reset();
        home.reset();
    }

    void scriptText() {
        const QString text = Installer::swapScript(
            QStringLiteral("/Apps/it's/Pinlark.app"), QStringLiteral("/tmp/w/unpacked/Pinlark.app"),
            QStringLiteral("/tmp/w"), 4242, QStringLiteral("app.pinlark.Pinlark"));
        QFile expected(QStringLiteral(PINLARK_TESTS_DIR "/integration/swap.sh"));
        QVERIFY(expected.open(QIODevice::ReadOnly));
        QCOMPARE(text, QString::fromUtf8(expected.readAll()));
    }

    void newBuildThatStaysUpReplacesTheOld() {
        QString log;
        const Swap s = runSwap("stay", QStringLiteral("updated"), &log);
        QVERIFY2(log.contains(QStringLiteral("] updated")), qPrintable(log));
        QVERIFY(runningPid(QStringLiteral("2.0")) != 0);
        QCOMPARE(versionAt(s.app), QStringLiteral("2.0"));
        // "updated" is written just before the clean-up.
        QVERIFY(QTest::qWaitFor([&] { return !QFile::exists(s.backup) && !QFile::exists(s.work); },
                                10000));
        QCOMPARE(FileUserDefaults(FileUserDefaults::standardPath())
                     .string(QStringLiteral("otaFailedAtVersion")),
                 QStringLiteral("1.0"));
        QCOMPARE(
            FileUserDefaults(FileUserDefaults::standardPath()).boolean(QStringLiteral("otaFailed")),
            std::nullopt);
    }

    void newBuildThatExitsIsRolledBack() {
        QString log;
        const Swap s = runSwap("exit", QStringLiteral("rolling back"), &log);
        QVERIFY(QTest::qWaitFor([&] { return runningPid(QStringLiteral("1.0")) != 0; }, 20000));
        QVERIFY2(log.contains(QStringLiteral("] the new build is not running — rolling back")),
                 qPrintable(log));
        QCOMPARE(versionAt(s.app), QStringLiteral("1.0"));
        QVERIFY(!QFile::exists(s.backup));
        QVERIFY(QFile::exists(s.log));
        FileUserDefaults defaults(FileUserDefaults::standardPath());
        QCOMPARE(defaults.boolean(QStringLiteral("otaFailed")), true);

        // The next launch, on the version rolled back to, keeps the mark; another clears it.
        Platform::Services real;
        real.defaults = std::make_unique<FileUserDefaults>(FileUserDefaults::standardPath());
        FakePlatform fakes = FakePlatform::install(std::move(real));
        LogCapture lines;
        fakes.bundle->infoDictionary = {{QStringLiteral("CFBundleShortVersionString"), "1.0"}};
        Installer::reconcile();
        QCOMPARE(defaults.boolean(QStringLiteral("otaFailed")), true);
        QCOMPARE(lines.lines, QStringList());
        fakes.bundle->infoDictionary = {{QStringLiteral("CFBundleShortVersionString"), "2.1"}};
        Installer::reconcile();
        QCOMPARE(defaults.boolean(QStringLiteral("otaFailed")), std::nullopt);
        QCOMPARE(defaults.string(QStringLiteral("otaFailedAtVersion")), std::nullopt);
        QCOMPARE(lines.lines, QStringList{QStringLiteral("[updater] clearing the rollback flag — "
                                                         "now on 2.1, it was set on 1.0")});
        // A mark without the version it was set on is cleared too.
        defaults.set(QStringLiteral("otaFailed"), true);
        Installer::reconcile();
        QCOMPARE(lines.lines.last(), QStringLiteral("[updater] clearing the rollback flag — now on "
                                                    "2.1, it was set on an unrecorded version"));
        QCOMPARE(defaults.boolean(QStringLiteral("otaFailed")), std::nullopt);
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestSwap)
#include "tst_swap.moc"
