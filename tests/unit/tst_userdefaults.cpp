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
            .entryList({QFileInfo(path).fileName() + QStringLiteral(".corrupt-*")});
    }

private Q_SLOTS:
    void init() {
        TestState::reset();
        home = std::make_unique<TestHome>();
        path = FileUserDefaults::standardPath();
    }
    void cleanup() { home.reset(); }

    void pathIsPerBundleUnderXdgConfigHome() {
        QCOMPARE(path, home->config() + QStringLiteral("/app.pinlark.Pinlark.json"));
    }

    void typedValuesRoundTrip() {
        {
            FileUserDefaults d(path);
            d.set(QStringLiteral("origin"), "http://127.0.0.1:3000");
            d.set(QStringLiteral("autoUpdate"), false);
            d.set(QStringLiteral("count"), qint64(1) << 40);
            d.set(QStringLiteral("blob"), QByteArray("\0\x01\xff", 3));
        }
        FileUserDefaults d(path);
        QCOMPARE(d.string(QStringLiteral("origin")), QStringLiteral("http://127.0.0.1:3000"));
        QCOMPARE(d.boolean(QStringLiteral("autoUpdate")), false);
        QCOMPARE(d.integer(QStringLiteral("count")), qint64(1) << 40);
        QCOMPARE(d.data(QStringLiteral("blob")), QByteArray("\0\x01\xff", 3));
        // A value of another type reads as absent for the typed accessor.
        QCOMPARE(d.boolean(QStringLiteral("origin")), std::nullopt);
        QCOMPARE(d.string(QStringLiteral("missing")), std::nullopt);
        d.remove(QStringLiteral("origin"));
        QCOMPARE(d.string(QStringLiteral("origin")), std::nullopt);
        QCOMPARE(d.boolean(QStringLiteral("autoUpdate")), false);
    }

    void writesKeepKeysWrittenByAnotherWriter() {
        FileUserDefaults app(path);
        app.set(QStringLiteral("loginItemDesired"), true);
        // Another process (the defaults tool) edits the file behind the app's back.
        FileUserDefaults tool(path);
        tool.set(QStringLiteral("otaFailed"), true);
        app.set(QStringLiteral("lastNotifiedVersion"), "1.2.0");
        QCOMPARE(app.boolean(QStringLiteral("otaFailed")), true);
        QCOMPARE(tool.boolean(QStringLiteral("loginItemDesired")), true);
        QCOMPARE(tool.string(QStringLiteral("lastNotifiedVersion")), QStringLiteral("1.2.0"));
    }

    void concurrentWritersLoseNothing() {
        constexpr int perWriter = 40;
        auto writer = [this](const QString& prefix) {
            FileUserDefaults d(path);
            for (int i = 0; i < perWriter; ++i)
                d.set(prefix + QString::number(i), qint64(i));
        };
        std::unique_ptr<QThread> a(QThread::create(writer, QStringLiteral("a")));
        std::unique_ptr<QThread> b(QThread::create(writer, QStringLiteral("b")));
        a->start();
        b->start();
        QVERIFY(a->wait(60000));
        QVERIFY(b->wait(60000));
        FileUserDefaults d(path);
        for (int i = 0; i < perWriter; ++i) {
            QCOMPARE(d.integer(QStringLiteral("a") + QString::number(i)), qint64(i));
            QCOMPARE(d.integer(QStringLiteral("b") + QString::number(i)), qint64(i));
        }
    }

    void interruptedWriteLeavesTheOldFile() {
        FileUserDefaults d(path);
        d.set(QStringLiteral("origin"), "http://old.test");
        // A writer that died mid-write leaves only its half-written new file behind.
        QFile partial(path + QStringLiteral(".Xa1b2c"));
        QVERIFY(partial.open(QIODevice::WriteOnly));
        partial.write("{\"origin\": \"http://ne");
        partial.close();
        QCOMPARE(d.string(QStringLiteral("origin")), QStringLiteral("http://old.test"));
        d.set(QStringLiteral("autoUpdate"), true);
        QCOMPARE(d.string(QStringLiteral("origin")), QStringLiteral("http://old.test"));
        QVERIFY(asideFiles().isEmpty());
    }

    void unreadableFileReadsEmptyAndIsKeptAside_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("torn JSON") << QByteArray("{\"origin\": \"http://ne");
        QTest::newRow("not an object") << QByteArray("[1, 2, 3]");
        QTest::newRow("binary garbage") << QByteArray("\x00\xff\xfe garbage", 12);
    }
    void unreadableFileReadsEmptyAndIsKeptAside() {
        QFETCH(QByteArray, content);
        writeRaw(content);
        LogCapture log;
        FileUserDefaults d(path);
        QCOMPARE(d.string(QStringLiteral("origin")), std::nullopt);
        const QStringList aside = asideFiles();
        QCOMPARE(aside.size(), 1);
        QFile kept(QFileInfo(path).absolutePath() + QLatin1Char('/') + aside.first());
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), content);
        QCOMPARE(log.lines.size(), 1);
        QVERIFY(log.lines.first().startsWith(QStringLiteral("[Pinlark] preferences file")));
        // The app goes on with a fresh file.
        d.set(QStringLiteral("autoUpdate"), false);
        QCOMPARE(FileUserDefaults(path).boolean(QStringLiteral("autoUpdate")), false);
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestUserDefaults)
#include "tst_userdefaults.moc"
