#include "app/SingleInstance.h"
#include "platform/fake/FakePlatform.h"
#include "support/TestSupport.h"

#include <QDBusConnectionInterface>
#include <QLocalSocket>
#include <QProcess>
#include <QTest>
#include <QThread>

using namespace pinlark;

using Channel = SingleInstance::Channel;
using Kind = Command::Kind;
Q_DECLARE_METATYPE(pinlark::Command)
Q_DECLARE_METATYPE(pinlark::SingleInstance::Channel)

// Two launches on a private session bus (a dbus-daemon of the test's own) and on a socket in a
// temporary runtime folder. The later launch runs on a thread of its own, as it would in a
// process of its own: its calls block until the running copy, on the main thread, answers.
class TestSingleInstance : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toLocal8Bit());
        m_bus.start(QStringLiteral("dbus-daemon"),
                    {QStringLiteral("--session"), QStringLiteral("--nofork"),
                     QStringLiteral("--print-address=1")});
        QVERIFY(m_bus.waitForReadyRead(10000));
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.readLine().trimmed());
    }
    void cleanupTestCase() {
        m_bus.kill();
        m_bus.waitForFinished();
    }
    void init() {
        TestState::reset();
        m_fake = FakePlatform::install();
    }

    void aLaterLaunchHandsItsCommandOver_data() {
        QTest::addColumn<Channel>("channel");
        QTest::addColumn<Command>("command");
        const Command commands[] = {{Kind::Reopen, {}},
                                    {Kind::Save, QUrl("https://example.org/a b?q=1&r=é#x")},
                                    {Kind::QuickSave, {}},
                                    {Kind::ToggleLibrary, {}}};
        const char* names[] = {"reopen", "save", "quick-save", "toggle-library"};
        for (int i = 0; i < 4; ++i) {
            QTest::addRow("bus, %s", names[i]) << Channel::Bus << commands[i];
            QTest::addRow("socket, %s", names[i]) << Channel::Socket << commands[i];
        }
    }
    void aLaterLaunchHandsItsCommandOver() {
        QFETCH(Channel, channel);
        QFETCH(Command, command);
        const QString name = uniqueName();
        SingleInstance running(name, channel);
        QCOMPARE(running.channel(), channel);
        QVERIFY(running.listen());
        QList<Command> received;
        connect(&running, &SingleInstance::commandReceived, this,
                [&](const Command& c) { received.append(c); });

        bool listened = true, sent = false;
        runLaterLaunch([&] {
            SingleInstance later(name, channel);
            listened = later.listen();
            sent = !listened && later.send(command);
        });
        QVERIFY(!listened);
        QVERIFY(sent);
        QCOMPARE(received, QList<Command>{command});
    }

    void theLaunchAfterTheRunningCopyEndedRunsItself_data() {
        QTest::addColumn<Channel>("channel");
        QTest::newRow("bus") << Channel::Bus;
        QTest::newRow("socket") << Channel::Socket;
    }
    void theLaunchAfterTheRunningCopyEndedRunsItself() {
        QFETCH(Channel, channel);
        const QString name = uniqueName();
        {
            SingleInstance running(name, channel);
            QVERIFY(running.listen());
        }
        QTRY_VERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(name));
        QVERIFY(!QFile::exists(SingleInstance::socketPath(name)));
        // A copy that crashed leaves its socket file behind.
        QFile left(SingleInstance::socketPath(name));
        QVERIFY(left.open(QIODevice::WriteOnly));
        left.close();

        SingleInstance next(name, channel);
        QVERIFY(next.listen());
        bool sent = false;
        runLaterLaunch([&] { sent = SingleInstance(name, channel).send(Command{}); });
        QVERIFY(sent);
    }

    // Whatever reaches the socket, the running copy takes only a well-formed command, answers
    // within its time-out, and goes on.
    void theRunningCopyRefusesWhatItCantTake_data() {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("a file link")
            << QByteArray("save file:///etc/passwd\n") << QByteArray("refused\n");
        QTest::newRow("no link") << QByteArray("save\n") << QByteArray("refused\n");
        QTest::newRow("unknown") << QByteArray("quit\n") << QByteArray("refused\n");
        QTest::newRow("extra words") << QByteArray("reopen now\n") << QByteArray("refused\n");
        QTest::newRow("endless line") << QByteArray(20000, 'x') << QByteArray();
        QTest::newRow("silence") << QByteArray() << QByteArray();
    }
    void theRunningCopyRefusesWhatItCantTake() {
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, answer);
        const QString name = uniqueName();
        SingleInstance running(name, Channel::Socket);
        QVERIFY(running.listen());
        int received = 0;
        connect(&running, &SingleInstance::commandReceived, this, [&] { ++received; });

        QLocalSocket peer;
        peer.connectToServer(SingleInstance::socketPath(name));
        QVERIFY(peer.waitForConnected(5000));
        peer.write(sent);
        QByteArray reply;
        connect(&peer, &QLocalSocket::readyRead, this, [&] { reply += peer.readAll(); });
        if (answer.isEmpty()) // dropped, at the latest when its time is up
            QTRY_VERIFY((m_fake.clock->advance(std::chrono::seconds(5)),
                         peer.state() == QLocalSocket::UnconnectedState));
        else
            QTRY_COMPARE(peer.state(), QLocalSocket::UnconnectedState);
        QCOMPARE(reply, answer);
        QCOMPARE(received, 0);

        bool taken = false;
        runLaterLaunch([&] { taken = SingleInstance(name, Channel::Socket).send(Command{}); });
        QVERIFY(taken);
        QCOMPARE(received, 1);
    }

private:
    QString uniqueName() { return QStringLiteral("app.pinlark.Test%1").arg(++m_names); }

    // Runs `launch` on another thread while this one keeps its event loop going.
    void runLaterLaunch(const std::function<void()>& launch) {
        std::unique_ptr<QThread> thread(QThread::create(launch));
        thread->start();
        // Its calls give up after a few seconds at most.
        while (!thread->wait(QDeadlineTimer(10)))
            QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }

    QTemporaryDir m_runtime;
    QProcess m_bus;
    FakePlatform m_fake;
    int m_names = 0;
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
