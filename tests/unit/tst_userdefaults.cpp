#include "LogCapture.h"
#include "TestSupport.h"
#include "platform/linux/FileUserDefaults.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QThread>

#include <limits>

using namespace pinlark;

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

    // Each type comes back as stored; a value of another type, or a hand-edited number beyond
    // the qint64 range, reads as absent.
    void typedValuesRoundTrip() {
        QCOMPARE(path, home->config() + u"/app.pinlark.Pinlark.json"_s);
        QVERIFY(writeFile(path, "{\"max\": 9223372036854775807, \"over\": 9223372036854775808}"));
        FileUserDefaults(path).set(u"origin"_s, "http://127.0.0.1:3000");
        FileUserDefaults(path).set(u"autoUpdate"_s, false);
        FileUserDefaults(path).set(u"count"_s, qint64(1) << 40);
        FileUserDefaults(path).set(u"blob"_s, QByteArray("\0\x01\xff", 3));
        FileUserDefaults d(path);
        QCOMPARE(d.string(u"origin"_s), u"http://127.0.0.1:3000"_s);
        QCOMPARE(d.boolean(u"autoUpdate"_s), false);
        QCOMPARE(d.integer(u"count"_s), qint64(1) << 40);
        QCOMPARE(d.data(u"blob"_s), QByteArray("\0\x01\xff", 3));
        QCOMPARE(d.boolean(u"origin"_s), std::nullopt);
        QCOMPARE(d.integer(u"max"_s), std::numeric_limits<qint64>::max());
        QCOMPARE(d.integer(u"over"_s), std::nullopt);
    }

    // Two writers, as two processes would be, each with its own view of the file: what one
    // writes, the other keeps.
    void concurrentWritersLoseNothing() {
        auto writer = [this](const QString& prefix) {
            FileUserDefaults d(path);
            for (int i = 0; i < 40; ++i)
                d.set(prefix + QString::number(i), qint64(i));
        };
        std::unique_ptr<QThread> a(QThread::create(writer, u"a"_s)),
            b(QThread::create(writer, u"b"_s));
        a->start();
        b->start();
        QVERIFY(a->wait(60000) && b->wait(60000));
        FileUserDefaults d(path);
        for (int i = 0; i < 40; ++i)
            QVERIFY2(d.integer(u"a%1"_s.arg(i)) == i && d.integer(u"b%1"_s.arg(i)) == i,
                     qPrintable(QString::number(i)));
    }

    // A file that can't be parsed reads as empty and is kept aside, and writes go on. One that
    // can't be read at all (here: a folder in its place) is not corrupt: nothing is moved aside
    // or written over, and every key is there again once it can be read.
    void unreadableFile_data() {
        QTest::addColumn<QByteArray>("content"); // none: a folder in the file's place
        QTest::newRow("torn JSON") << QByteArray("{\"loginItemDesired\": tr");
        QTest::newRow("not an object") << QByteArray("[1, 2, 3]");
        QTest::newRow("a folder in its place") << QByteArray();
    }
    void unreadableFile() {
        QFETCH(QByteArray, content);
        const bool folder = content.isEmpty();
        LogCapture log; // what could not be read, and for the folder the write refused
        FileUserDefaults d(path);
        d.set(u"loginItemDesired"_s, true);
        QVERIFY(folder ? QFile::rename(path, path + u".away"_s) && QDir().mkdir(path)
                       : writeFile(path, content));
        QCOMPARE(d.boolean(u"loginItemDesired"_s), std::nullopt);
        d.set(u"otaFailed"_s, true);
        QCOMPARE(asideFiles().size(), folder ? 0 : 1);
        QVERIFY(folder ||
                readFile(QFileInfo(path).absolutePath() + u'/' + asideFiles()[0]) == content);
        QVERIFY(!folder || (QDir().rmdir(path) && QFile::rename(path + u".away"_s, path)));
        d.set(u"autoUpdate"_s, false);
        const FileUserDefaults other(path);
        QCOMPARE(other.boolean(u"loginItemDesired"_s), folder ? std::optional(true) : std::nullopt);
        QCOMPARE(other.boolean(u"otaFailed"_s), folder ? std::nullopt : std::optional(true));
        QCOMPARE(other.boolean(u"autoUpdate"_s), false);
        QCOMPARE(log.lines.size(), folder ? 2 : 1);
    }

    // A writer holding the lock makes others wait, not time out; when it is killed the kernel
    // drops its lock, the waiting write goes ahead on what it committed, and the temporary file
    // it left is swept at the next start. A start while it lives leaves its file alone.
    void killedWriterReleasesTheLock() {
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        const QString leftover = path + u".writing-child1"_s;
        QProcess writer; // the shell becomes the sleep, which holds the lock until it is killed
        writer.setChildProcessModifier(diesWithParent);
        writer.start(u"sh"_s,
                     {u"-c"_s,
                      u"exec 9>>\"$0.lock\" && flock 9 && printf '{\"tool\": true}' >\"$0\" && "
                      "printf '{\"to' >\"$1\" && echo && exec sleep infinity"_s,
                      path, leftover});
        QVERIFY(writer.waitForReadyRead(10000));
        FileUserDefaults{path};
        QVERIFY(QFileInfo::exists(leftover));
        std::unique_ptr<QThread> app(
            QThread::create([this] { FileUserDefaults(path).set(u"app"_s, true); }));
        const auto release = qScopeGuard([&] {
            writer.kill();
            writer.waitForFinished();
            app->wait();
        });
        app->start();
        // Wait until the kernel queues the app's write behind the other process's lock.
        const QByteArray waiter = "-> FLOCK  ADVISORY  WRITE " +
                                  QByteArray::number(QCoreApplication::applicationPid()) + ' ';
        bool queued = false;
        for (QDeadlineTimer watchdog(30000);
             !queued && !app->isFinished() && !watchdog.hasExpired(); QThread::yieldCurrentThread())
            queued = readFile(u"/proc/locks"_s).contains(waiter);
        QVERIFY2(!app->isFinished(), "the write went ahead while another process held the lock");
        QVERIFY(queued);
        writer.kill();
        QVERIFY(writer.waitForFinished() && app->wait(30000));

        FileUserDefaults d(path);
        QVERIFY(!QFileInfo::exists(leftover));
        QCOMPARE(d.boolean(u"tool"_s), true);
        QCOMPARE(d.boolean(u"app"_s), true);
    }
};

QTEST_GUILESS_MAIN(TestUserDefaults)
#include "tst_userdefaults.moc"
