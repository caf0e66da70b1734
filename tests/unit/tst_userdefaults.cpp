#include "TestSupport.h"
#include "platform/linux/FileUserDefaults.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QThread>

#include <limits>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pinlark {

class TestUserDefaults : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHome> home;
    QString path;

    QStringList asideFiles() const {
        return QDir(QFileInfo(path).absolutePath())
            .entryList({QFileInfo(path).fileName() + u".corrupt-*"_s});
    }

private Q_SLOTS:
    void init() {
        TestState::reset();
        home = std::make_unique<TestHome>();
        path = FileUserDefaults::standardPath();
    }
    void cleanup() { home.reset(); }

    void typedValuesRoundTrip() {
        QCOMPARE(path, home->config() + u"/app.pinlark.Pinlark.json"_s);
        {
            FileUserDefaults d(path);
            d.set(u"origin"_s, "http://127.0.0.1:3000");
            d.set(u"autoUpdate"_s, false);
            d.set(u"count"_s, qint64(1) << 40);
            d.set(u"blob"_s, QByteArray("\0\x01\xff", 3));
        }
        FileUserDefaults d(path);
        QCOMPARE(d.string(u"origin"_s), u"http://127.0.0.1:3000"_s);
        QCOMPARE(d.boolean(u"autoUpdate"_s), false);
        QCOMPARE(d.integer(u"count"_s), qint64(1) << 40);
        QCOMPARE(d.data(u"blob"_s), QByteArray("\0\x01\xff", 3));
        // A value of another type reads as absent for the typed accessor.
        QCOMPARE(d.boolean(u"origin"_s), std::nullopt);
    }

    // Two writers, as two processes would be, each with its own view of the file: what one
    // writes, the other keeps.
    void concurrentWritersLoseNothing() {
        constexpr int perWriter = 40;
        auto writer = [this](const QString& prefix) {
            FileUserDefaults d(path);
            for (int i = 0; i < perWriter; ++i)
                d.set(prefix + QString::number(i), qint64(i));
        };
        std::unique_ptr<QThread> a(QThread::create(writer, u"a"_s));
        std::unique_ptr<QThread> b(QThread::create(writer, u"b"_s));
        a->start();
        b->start();
        QVERIFY(a->wait(60000));
        QVERIFY(b->wait(60000));
        FileUserDefaults d(path);
        for (int i = 0; i < perWriter; ++i) {
            QCOMPARE(d.integer(u"a"_s + QString::number(i)), qint64(i));
            QCOMPARE(d.integer(u"b"_s + QString::number(i)), qint64(i));
        }
    }

    void unreadableFileReadsEmptyAndIsKeptAside_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("torn JSON") << QByteArray("{\"origin\": \"http://ne");
        QTest::newRow("not an object") << QByteArray("[1, 2, 3]");
    }
    void unreadableFileReadsEmptyAndIsKeptAside() {
        QFETCH(QByteArray, content);
        QVERIFY(writeFile(path, content));
        FileUserDefaults d(path);
        QCOMPARE(d.string(u"origin"_s), std::nullopt);
        QCOMPARE(readFile(QFileInfo(path).absolutePath() + u'/' + asideFiles().value(0)), content);
        d.set(u"autoUpdate"_s, false);
        QCOMPARE(FileUserDefaults(path).boolean(u"autoUpdate"_s), false);
    }

    // A file that exists but cannot be read (here: a folder in its place) is not corrupt:
    // nothing is moved aside or written over, and every key is there again once it can be read.
    void fileThatCannotBeReadIsLeftAlone() {
        {
            FileUserDefaults d(path);
            d.set(QStringLiteral("origin"), "http://kept.test");
            d.set(QStringLiteral("loginItemDesired"), true);
        }
        FileUserDefaults d(path);
        QVERIFY(QFile::rename(path, path + QStringLiteral(".away")));
        QVERIFY(QDir().mkdir(path));
        const auto origin = d.string(QStringLiteral("origin"));
        d.set(QStringLiteral("otaFailed"), true);
        QVERIFY(QDir().rmdir(path));
        QVERIFY(QFile::rename(path + QStringLiteral(".away"), path));

        QCOMPARE(origin, std::nullopt);
        QVERIFY(asideFiles().isEmpty());
        QCOMPARE(d.string(QStringLiteral("origin")), QStringLiteral("http://kept.test"));
        d.set(QStringLiteral("otaFailed"), true);
        QCOMPARE(d.boolean(QStringLiteral("loginItemDesired")), true);
        QCOMPARE(d.boolean(QStringLiteral("otaFailed")), true);
    }

    // A writer holding the lock makes others wait, not time out; when it is killed the kernel
    // drops its lock, the waiting write goes ahead on what it committed, and the temporary file
    // it left is swept at the next start.
    void killedWriterReleasesTheLock() {
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        const QByteArray lockPath = QFile::encodeName(path + QStringLiteral(".lock"));
        const QByteArray file = QFile::encodeName(path);
        const QByteArray leftover = file + ".writing-child1";
        int ready[2];
        QVERIFY(::pipe(ready) == 0);
        pid_t child = ::fork();
        if (child == 0) {
            // Only async-signal-safe calls in the child of a threaded process.
            const int lock = ::open(lockPath.constData(), O_RDWR | O_CREAT, 0600);
            const int done = ::open(file.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int partial = ::open(leftover.constData(), O_WRONLY | O_CREAT, 0600);
            if (::flock(lock, LOCK_EX) != 0 || ::write(done, "{\"tool\": true}", 14) != 14 ||
                ::write(partial, "{\"to", 4) != 4 || ::write(ready[1], "L", 1) != 1)
                ::_exit(1);
            for (;;)
                ::pause();
        }
        QVERIFY(child > 0);
        std::unique_ptr<QThread> app;
        const auto reap = [&] {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
            if (app)
                app->wait();
            ::close(ready[0]);
            ::close(ready[1]);
        };
        auto guard = qScopeGuard(reap);
        char c = 0;
        QCOMPARE(::read(ready[0], &c, 1), ssize_t(1));
        app.reset(
            QThread::create([this] { FileUserDefaults(path).set(QStringLiteral("app"), true); }));
        app->start();
        // Wait until the kernel queues the app's write behind the child's lock.
        struct stat lockStat {};
        QVERIFY(::stat(lockPath.constData(), &lockStat) == 0);
        const QString inode = QStringLiteral(":%1 ").arg(lockStat.st_ino);
        const QString waiter = QStringLiteral("-> FLOCK  ADVISORY  WRITE %1 ").arg(::getpid());
        bool queued = false;
        for (QDeadlineTimer watchdog(30000);
             !queued && !app->isFinished() && !watchdog.hasExpired();
             QThread::yieldCurrentThread()) {
            QFile locks(QStringLiteral("/proc/locks"));
            QVERIFY(locks.open(QIODevice::ReadOnly));
            for (const QByteArray& line : locks.readAll().split('\n'))
                queued =
                    queued || (line.contains(waiter.toLatin1()) && line.contains(inode.toLatin1()));
        }
        QVERIFY2(!app->isFinished(), "the write went ahead while another process held the lock");
        QVERIFY(queued);
        guard.dismiss();
        reap();

        QVERIFY(QFileInfo::exists(QString::fromLocal8Bit(leftover)));
        FileUserDefaults d(path);
        QVERIFY(!QFileInfo::exists(QString::fromLocal8Bit(leftover)));
        QCOMPARE(d.boolean(QStringLiteral("tool")), true);
        QCOMPARE(d.boolean(QStringLiteral("app")), true);
    }

    // Hand-edited numbers: exact integers in the whole qint64 range, absent beyond it.
    void numbersBeyondTheIntegerRange() {
        QVERIFY(writeFile(path, "{\"max\": 9223372036854775807, \"over\": 9223372036854775808}"));
        FileUserDefaults d(path);
        QCOMPARE(d.integer(u"max"_s), std::numeric_limits<qint64>::max());
        QCOMPARE(d.integer(u"over"_s), std::nullopt);
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestUserDefaults)
#include "tst_userdefaults.moc"
