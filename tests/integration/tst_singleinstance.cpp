#include "app/SingleInstance.h"
#include "support/TestSupport.h"

#include <QLocalSocket>
#include <QProcess>
#include <QThread>

using namespace pinlark;

using Channel = SingleInstance::Channel;
using Kind = Command::Kind;

// Two launches on a private session bus (a dbus-daemon of the test's own) and on a socket in a
// temporary runtime folder. The later launch runs on a thread of its own, as it would in a
// process of its own: its calls block until the running copy, on the main thread, answers.
class TestSingleInstance : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toLocal8Bit());
        // Its socket goes into the temporary folder too.
        QVERIFY(!startSessionBus(m_bus, m_runtime.path()).isEmpty());
        m_fake = FakePlatform::install();
    }
    void cleanupTestCase() {
        m_bus.kill();
        m_bus.waitForFinished();
    }

    // A later launch hands its command over, and one that asks gets the running copy's status,
    // lines and all; none when no copy runs. A launch that reaches the bus and one that doesn't
    // find each other.
    void aLaterLaunchHandsItsCommandOver_data() {
        QTest::addColumn<Channel>("channel");
        QTest::addColumn<Channel>("laterChannel");
        QTest::addColumn<Command>("command");
        QTest::addColumn<SingleInstance::Sent>("expected");
        const auto taken = SingleInstance::Sent::Taken;
        // 8,175 characters encoded: about the longest a launch lets through.
        const Command link{Kind::Save,
                           QUrl(u"https://example.org/a b?q=1&r=é#"_s + QString(1356, u'ж'))};
        const Command file{Kind::Save, QUrl(u"file:///etc/passwd"_s)};
        // The most a save takes, each link about as long as one may be.
        QList<QUrl> hundred;
        for (int i = 0; i < 100; ++i)
            hundred.append(QUrl(u"https://example.org/%1/"_s.arg(i) + QString(8100, u'a')));
        const Command many{Kind::Save, hundred.first(), hundred};
        const Command clipboard{Kind::Save, {}, {}, true};
        for (Channel channel : {Channel::Bus, Channel::Socket}) {
            const char* on = channel == Channel::Bus ? "bus" : "socket";
            QTest::addRow("%s, reopen", on) << channel << channel << Command{} << taken;
            QTest::addRow("%s, save", on) << channel << channel << link << taken;
            QTest::addRow("%s, toggle-library", on)
                << channel << channel << Command{Kind::ToggleLibrary, {}} << taken;
            QTest::addRow("%s, 100 links", on) << channel << channel << many << taken;
            QTest::addRow("%s, save-clipboard", on) << channel << channel << clipboard << taken;
            QTest::addRow("%s, refused", on)
                << channel << channel << file << SingleInstance::Sent::Refused;
        }
        QTest::newRow("bus, a launch without it")
            << Channel::Bus << Channel::Socket << link << taken;
        QTest::newRow("socket, a launch with the bus")
            << Channel::Socket << Channel::Bus << link << taken;
    }
    void aLaterLaunchHandsItsCommandOver() {
        QFETCH(Channel, channel);
        QFETCH(Channel, laterChannel);
        QFETCH(Command, command);
        QFETCH(SingleInstance::Sent, expected);
        const QString name = u"app.pinlark.Test%1"_s.arg(++m_names);
        std::optional<QString> before, status;
        runLaterLaunch([&] { before = SingleInstance(name, channel).queryStatus(); });
        // What a copy that crashed leaves behind is in the way of neither channel.
        QVERIFY(QFile(SingleInstance::socketPath(name)).open(QIODevice::WriteOnly));
        SingleInstance running(name, channel);
        QVERIFY(running.listen());
        running.status = []() -> QCoro::Task<QString> { co_return u"a\tb\nc"_s; };
        QList<Command> received;
        connect(&running, &SingleInstance::commandReceived, this,
                [&](const Command& c) { received.append(c); });

        bool listened = true;
        auto sent = SingleInstance::Sent::NoAnswer;
        runLaterLaunch([&] {
            SingleInstance later(name, laterChannel);
            listened = later.listen();
            if (!listened)
                sent = later.send(command);
            status = later.queryStatus();
        });
        QVERIFY(!listened);
        QCOMPARE(sent, expected);
        QCOMPARE(received, expected == SingleInstance::Sent::Taken ? QList<Command>{command}
                                                                   : QList<Command>{});
        QCOMPARE(before, std::nullopt);
        QCOMPARE(status, u"a\tb\nc"_s);
    }

    // The running copy drops a peer that sends too much or nothing in time, unanswered.
    void theRunningCopyRefusesWhatItCantTake_data() {
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("endless line") << QByteArray(1024 * 1024 + 20000, 'x');
        QTest::newRow("silence") << QByteArray();
    }
    void theRunningCopyRefusesWhatItCantTake() {
        QFETCH(QByteArray, sent);
        const QString name = u"app.pinlark.Test%1"_s.arg(++m_names);
        SingleInstance running(name, Channel::Socket);
        QVERIFY(running.listen());
        int received = 0;
        connect(&running, &SingleInstance::commandReceived, this, [&] { ++received; });

        QLocalSocket peer;
        peer.connectToServer(SingleInstance::socketPath(name));
        QVERIFY(peer.waitForConnected(5000));
        peer.write(sent);
        const auto dropped = [&] { return peer.state() == QLocalSocket::UnconnectedState; };
        if (sent.isEmpty()) // at the latest when its time is up
            QTRY_VERIFY((m_fake.clock->advance(std::chrono::seconds(5)), dropped()));
        QTRY_VERIFY(dropped());
        QCOMPARE(peer.readAll(), QByteArray()); // unanswered
        QCOMPARE(received, 0);
    }

private:
    // Runs `launch` on another thread while this one keeps its event loop going. Its calls give
    // up after a few seconds at most.
    void runLaterLaunch(const std::function<void()>& launch) {
        std::unique_ptr<QThread> thread(QThread::create(launch));
        thread->start();
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
