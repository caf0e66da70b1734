#include "LogCapture.h"
#include "TestSupport.h"
#include "platform/linux/FileUserDefaults.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QThread>

namespace pinlark {

class TestUserDefaults : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHome> home;
    QString path;

    void writeRaw(const QByteArray& bytes) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
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
        QCOMPARE(d.string(u"missing"_s), std::nullopt);
        d.remove(u"origin"_s);
        QCOMPARE(d.string(u"origin"_s), std::nullopt);
        QCOMPARE(d.boolean(u"autoUpdate"_s), false);
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

    void interruptedWriteLeavesTheOldFile() {
        FileUserDefaults d(path);
        d.set(u"origin"_s, "http://old.test");
        // A writer that died mid-write leaves only its half-written new file behind.
        QFile partial(path + u".Xa1b2c"_s);
        QVERIFY(partial.open(QIODevice::WriteOnly));
        partial.write("{\"origin\": \"http://ne");
        partial.close();
        QCOMPARE(d.string(u"origin"_s), u"http://old.test"_s);
        d.set(u"autoUpdate"_s, true);
        QCOMPARE(d.string(u"origin"_s), u"http://old.test"_s);
        QVERIFY(asideFiles().isEmpty());
    }

    void unreadableFileReadsEmptyAndIsKeptAside_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("torn JSON") << QByteArray("{\"origin\": \"http://ne");
        QTest::newRow("not an object") << QByteArray("[1, 2, 3]");
    }
    void unreadableFileReadsEmptyAndIsKeptAside() {
        QFETCH(QByteArray, content);
        writeRaw(content);
        LogCapture log;
        FileUserDefaults d(path);
        QCOMPARE(d.string(u"origin"_s), std::nullopt);
        const QStringList aside = asideFiles();
        QCOMPARE(aside.size(), 1);
        QFile kept(QFileInfo(path).absolutePath() + u'/' + aside.first());
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), content);
        // The app goes on with a fresh file; the one line logged is about the broken one.
        d.set(u"autoUpdate"_s, false);
        QCOMPARE(FileUserDefaults(path).boolean(u"autoUpdate"_s), false);
        QCOMPARE(log.lines.size(), 1);
        QVERIFY(log.lines.first().startsWith(u"[Pinlark] preferences file"_s));
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestUserDefaults)
#include "tst_userdefaults.moc"
