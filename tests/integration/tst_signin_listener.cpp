#include "session/Connect.h"
#include "session/LoopbackConnection.h"
#include "support/Curl.h"
#include "support/TestSupport.h"

#include <QTcpSocket>
#include <QUrlQuery>

#include <array>

using namespace pinlark;

// The sign-in listener against real peers: curl, and raw sockets for what curl won't do.
class TestSignInListener : public QObject {
    Q_OBJECT

    FakePlatform fakes;
    quint16 port = 0;
    QString state;
    const QString origin = QStringLiteral("http://localhost:3000");

private Q_SLOTS:
    void init() {
        TestState::reset();
        fakes = FakePlatform::install();
        fakes.defaults->set(QStringLiteral("origin"), origin);
        Connect::begin();
        QVERIFY(QTest::qWaitFor([&] { return !fakes.workspace->opened.isEmpty(); }, 5000));
        const QUrlQuery query(fakes.workspace->opened.first());
        port = query.queryItemValue(u"port"_qs).toUShort();
        state = query.queryItemValue(u"state"_qs);
    }
    void cleanupTestCase() { TestState::reset(); }

    void acceptsTheHandBackWhileIdleConnectionsCrowdIn() {
        std::array<QTcpSocket, 300> idle;
        for (QTcpSocket& s : idle)
            s.connectToHost(QHostAddress::LocalHost, port);
        const auto closed = [&] {
            return std::ranges::count(idle, QAbstractSocket::UnconnectedState, &QTcpSocket::state);
        };
        // All accepted: the ones beyond the cap crowded out the oldest.
        QVERIFY(QTest::qWaitFor([&] { return closed() == 300 - 256; }, 20000));
        QCOMPARE(LoopbackConnection::openCount(), 256);
        const QString handBack =
            uR"({"token":"tok","cookieName":"authjs.session-token","state":"%1","secure":false})"_qs
                .arg(state);
        QCOMPARE(curl({u"-H"_qs, u"Origin: "_qs + origin, u"--data-binary"_qs, handBack,
                       u"http://127.0.0.1:%1/"_qs.arg(port)})
                     .body,
                 "{\"ok\":true}");
        QVERIFY(!Connect::isRunning());
        QVERIFY(QTest::qWaitFor([&] { return fakes.cookieStore->cookies.size() == 1; }, 20000));
        const QNetworkCookie cookie = fakes.cookieStore->cookies.first();
        QCOMPARE(cookie.value() + ' ' + cookie.domain().toUtf8() +
                     (cookie.isSecure() ? " secure" : ""),
                 "tok localhost");
        // The hand-back crowded out one more; no idle connection was answered.
        QVERIFY(QTest::qWaitFor([&] { return closed() == 300 - 255; }, 10000));
        for (const QTcpSocket& s : idle)
            QCOMPARE(s.bytesAvailable(), 0);
    }

    // 8192 bytes of garbage, and a peer that sends nothing for 30 seconds, are closed
    // unanswered, and the sign-in goes on.
    void rawPeers_data() {
        QTest::addColumn<QByteArray>("bytes");
        QByteArray garbage(8192, '\0');
        for (int i = 0; i < garbage.size(); ++i)
            garbage[i] = char((i * 7919) % 251);
        QTest::newRow("garbage") << garbage;
        QTest::newRow("silence") << QByteArray();
    }
    void rawPeers() {
        QFETCH(QByteArray, bytes);
        QTcpSocket peer;
        peer.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(QTest::qWaitFor([] { return LoopbackConnection::openCount() == 1; }, 5000));
        peer.write(bytes);
        if (bytes.isEmpty()) {
            fakes.clock->advance(LoopbackConnection::idleTimeout - std::chrono::seconds(1));
            QCOMPARE(LoopbackConnection::openCount(), 1);
            fakes.clock->advance(std::chrono::seconds(1));
        }
        QVERIFY(QTest::qWaitFor([&] { return peer.state() == QAbstractSocket::UnconnectedState; },
                                10000));
        QCOMPARE(peer.readAll(), QByteArray());
        QVERIFY(Connect::isRunning());
    }
};

QTEST_MAIN(TestSignInListener)
#include "tst_signin_listener.moc"
