#include "LogCapture.h"
#include "TestSupport.h"
#include "platform/FileLock.h"
#include "platform/linux/FileUserDefaults.h"

#include <QDir>
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

    // A writer's new file is what a killed writer left once no writer holds the lock: swept at
    // the next start, and never while a writer is at work.
    void killedWritersFileIsSwept() {
        const QString leftover = path + u".writing-child1"_s;
        QVERIFY(writeFile(leftover, "{\"to"));
        {
            const FileLock writer(path, FileLock::Wait);
            QVERIFY(writer.locked());
            FileUserDefaults{path};
            QVERIFY(QFileInfo::exists(leftover));
        }
        FileUserDefaults{path};
        QVERIFY(!QFileInfo::exists(leftover));
    }
};

QTEST_GUILESS_MAIN(TestUserDefaults)
#include "tst_userdefaults.moc"
