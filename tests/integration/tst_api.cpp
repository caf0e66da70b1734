#include "DevService.h"
#include "TestSupport.h"
#include "platform/fake/FakePlatform.h"
#include "service/API.h"
#include "service/APIError.h"
#include "service/DecodingError.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using namespace std::chrono_literals;

namespace pinlark {

namespace {

// A peer on a real loopback socket that gives every request the same raw answer once the
// request has arrived whole, or, with an empty answer, accepts and never says a word.
class ScriptedPeer : public QObject {
public:
    explicit ScriptedPeer(QByteArray answer)
        : m_answer(std::move(answer)) {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                ++connections;
                if (onConnection)
                    onConnection();
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { respond(socket); });
            }
        });
    }
    QUrl origin() const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()));
    }
    int connections = 0;
    std::function<void()> onConnection;

private:
    void respond(QTcpSocket* socket) {
        QByteArray& received = m_received[socket];
        received += socket->readAll();
        const qsizetype end = received.indexOf("\r\n\r\n");
        if (m_answer.isEmpty() || end < 0)
            return;
        qsizetype length = 0;
        for (const QByteArray& line : received.left(end).split('\n')) {
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
        }
        if (received.size() < end + 4 + length)
            return;
        socket->write(m_answer);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QByteArray m_answer;
    QHash<QTcpSocket*, QByteArray> m_received;
};

QByteArray answer(const char* statusLine, const QByteArray& contentType, const QByteArray& body) {
    QByteArray bytes = QByteArray("HTTP/1.1 ") + statusLine + "\r\nConnection: close\r\n";
    if (!contentType.isEmpty())
        bytes += "Content-Type: " + contentType + "\r\n";
    return bytes + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// What a call ended with, in one comparable text: "ok", "api <code> <message>" or "decoding".
template <typename T>
QString outcomeOf(QCoro::Task<T> task, std::chrono::milliseconds watchdog = 20s) {
    try {
        runTask(std::move(task), watchdog);
        return QStringLiteral("ok");
    } catch (const APIError& e) {
        return QStringLiteral("api %1 %2").arg(e.code(), e.message());
    } catch (const DecodingError&) {
        return QStringLiteral("decoding");
    }
}

const QString offline = QStringLiteral("api offline Can't reach Pinlark. Check your connection.");

} // namespace

class TestAPI : public QObject {
    Q_OBJECT

    FakePlatform fakes;

    void useOrigin(const QUrl& origin, const QString& token = QStringLiteral("token")) {
        fakes.defaults->set(QStringLiteral("origin"), origin.toString());
        QNetworkCookie cookie("authjs.session-token", token.toUtf8());
        cookie.setDomain(origin.host());
        cookie.setPath(QStringLiteral("/"));
        fakes.cookieStore->cookies = {cookie};
    }

    static QJsonObject only(const QJsonArray& requests) {
        if (requests.size() != 1)
            qWarning() << "requests:" << requests;
        return requests.size() == 1 ? requests.first().toObject() : QJsonObject();
    }

private Q_SLOTS:
    void init() {
        TestState::reset();
        fakes = FakePlatform::install();
    }

    void signedOutSendsNothing() {
        DevService service;
        QVERIFY(service.isRunning());
        fakes.defaults->set(QStringLiteral("origin"), service.origin().toString());
        const QString unauthenticated = QStringLiteral("api unauthenticated Sign in to save.");
        QCOMPARE(outcomeOf(API::save(QStringLiteral("https://example.test/"))), unauthenticated);
        QCOMPARE(outcomeOf(API::recent(7)), unauthenticated);
        QCOMPARE(outcomeOf(API::get(QStringLiteral("s1"))), unauthenticated);
        QCOMPARE(service.requests(), QJsonArray());
    }

    void unknownSessionIsTheServicesOwnError() {
        DevService service;
        useOrigin(service.origin(), QStringLiteral("not-a-session"));
        QCOMPARE(outcomeOf(API::recent(7)), QStringLiteral("api unauthenticated Sign in to save."));
    }

    void savesReadsAndLists() {
        DevService service;
        const QString token = service.signIn();
        useOrigin(service.origin(), token);
        const QString link = QStringLiteral("https://example.test/one");

        const SaveOutcome first = runTask(API::save(link));
        QVERIFY(!first.id.isEmpty());
        QVERIFY(!first.existing);
        QCOMPARE(runTask(API::save(link)), (SaveOutcome{first.id, true}));

        const SaveRow row = runTask(API::get(first.id));
        QCOMPARE(row.id, first.id);
        QCOMPARE(row.url, link);
        QCOMPARE(row.status, QStringLiteral("queued"));
        runTask(API::save(QStringLiteral("https://example.test/two")));
        const QList<SaveRow> rows = runTask(API::recent(1));
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.first().url, QStringLiteral("https://example.test/two"));

        service.clearRequests();
        runTask(API::recent(5));
        QJsonObject request = only(service.requests());
        QCOMPARE(request[QLatin1String("method")].toString(), QStringLiteral("GET"));
        QCOMPARE(request[QLatin1String("path")].toString(), QStringLiteral("/api/saves"));
        QCOMPARE(request[QLatin1String("query")].toString(), QStringLiteral("limit=5"));
        QJsonObject headers = request[QLatin1String("headers")].toObject();
        QCOMPARE(headers[QLatin1String("authorization")].toString(),
                 QStringLiteral("Bearer ") + token);
        QVERIFY(!headers.contains(QLatin1String("content-type")));
        QVERIFY(!headers.contains(QLatin1String("content-length")));
        QCOMPARE(request[QLatin1String("body")].toString(), QString());

        service.clearRequests();
        runTask(API::get(first.id));
        QCOMPARE(only(service.requests())[QLatin1String("path")].toString(),
                 QStringLiteral("/api/saves/") + first.id);
    }

    // The text goes out as given, in an object with "url" as its one member, and the service's
    // refusal comes back with its own code and message.
    void sendsTheTextUnchanged() {
        DevService service;
        const QString token = service.signIn();
        useOrigin(service.origin(), token);
        service.clearRequests();
        const QString text = QStringLiteral(" example.test/\"quoted\" ü \n");
        QCOMPARE(outcomeOf(API::save(text)),
                 QStringLiteral("api bad_url That isn't a link Pinlark can save."));

        const QJsonObject request = only(service.requests());
        QCOMPARE(request[QLatin1String("method")].toString(), QStringLiteral("POST"));
        QCOMPARE(request[QLatin1String("path")].toString(), QStringLiteral("/api/saves"));
        QCOMPARE(request[QLatin1String("query")].toString(), QString());
        const QByteArray body = request[QLatin1String("body")].toString().toUtf8();
        QCOMPARE(body, QJsonDocument(QJsonObject{{QStringLiteral("url"), text}})
                           .toJson(QJsonDocument::Compact));
        const QJsonObject headers = request[QLatin1String("headers")].toObject();
        QCOMPARE(headers[QLatin1String("authorization")].toString(),
                 QStringLiteral("Bearer ") + token);
        QCOMPARE(headers[QLatin1String("content-type")].toString(),
                 QStringLiteral("application/json"));
        // Besides those two, only what the transport itself adds.
        const QStringList transport{
            QStringLiteral("authorization"),   QStringLiteral("content-type"),
            QStringLiteral("content-length"),  QStringLiteral("host"),
            QStringLiteral("connection"),      QStringLiteral("accept-encoding"),
            QStringLiteral("accept-language"), QStringLiteral("user-agent")};
        for (const QString& name : headers.keys())
            QVERIFY2(transport.contains(name), qPrintable(name));
    }

    void mapsAnswers_data() {
        QTest::addColumn<int>("call"); // 0 save, 1 recent, 2 get
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("outcome");
        const QByteArray json("application/json");
        QTest::newRow("201 is success")
            << 0 << answer("201 Created", json, "{\"id\":\"n1\"}") << QStringLiteral("ok");
        QTest::newRow("a 204 body fails a save as decoding")
            << 0 << answer("204 No Content", {}, {}) << QStringLiteral("decoding");
        QTest::newRow("a success body of the wrong shape")
            << 2 << answer("200 OK", json, "{\"id\":5}") << QStringLiteral("decoding");
        QTest::newRow("content type of a success is not examined")
            << 1 << answer("200 OK", "text/html", "{}") << QStringLiteral("ok");
        QTest::newRow("500 with an HTML body")
            << 1 << answer("500 Internal Server Error", "text/html", "<html>Oops</html>")
            << QStringLiteral("api http_500 Something went wrong. Try again.");
        QTest::newRow("404 with only a message")
            << 2 << answer("404 Not Found", json, "{\"message\":\"No such save.\"}")
            << QStringLiteral("api http_404 No such save.");
        QTest::newRow("the service's code and message")
            << 0
            << answer("429 Too Many Requests", json,
                      "{\"error\":\"slow_down\",\"message\":\"Wait.\"}")
            << QStringLiteral("api slow_down Wait.");
        QTest::newRow("a reply cut short is offline")
            << 1 << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\n{\"saves\"")
            << offline;
        QTest::newRow("garbage instead of HTTP is offline")
            << 1 << QByteArray("hello\r\n\r\n") << offline;
    }
    void mapsAnswers() {
        QFETCH(int, call);
        QFETCH(QByteArray, answer);
        QFETCH(QString, outcome);
        ScriptedPeer peer(answer);
        useOrigin(peer.origin());
        const QString got = call == 0   ? outcomeOf(API::save(QStringLiteral("https://e.test/")))
                            : call == 1 ? outcomeOf(API::recent(3))
                                        : outcomeOf(API::get(QStringLiteral("s1")));
        QCOMPARE(got, outcome);
    }

    void refusedConnectionIsOffline() {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        useOrigin(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port)));
        QCOMPARE(outcomeOf(API::recent(7)), offline);
    }

    void silentServerTimesOut() {
        ScriptedPeer silent{QByteArray()};
        useOrigin(silent.origin());
        API::s_transferTimeout = 300ms;
        QCOMPARE(outcomeOf(API::get(QStringLiteral("s1")), 10s), offline);
        QCOMPARE(silent.connections, 1);
    }

    void cancellingAbortsTheExchange() {
        ScriptedPeer silent{QByteArray()};
        useOrigin(silent.origin());
        CancelToken cancel;
        silent.onConnection = [cancel] { cancel.cancel(); };
        QCOMPARE(outcomeOf(API::save(QStringLiteral("https://e.test/"), cancel), 10s), offline);
        QCOMPARE(silent.connections, 1);

        // Cancelled before it starts: nothing is sent.
        QCOMPARE(outcomeOf(API::recent(3, cancel)), offline);
        QTest::qWait(50);
        QCOMPARE(silent.connections, 1);
    }

    void severalCallsInFlight() {
        DevService service;
        useOrigin(service.origin(), service.signIn());
        const QString id = runTask(API::save(QStringLiteral("https://example.test/a"))).id;
        auto all = [&]() -> QCoro::Task<int> {
            auto saving = API::save(QStringLiteral("https://example.test/b"));
            auto listing = API::recent(10);
            auto reading = API::get(id);
            const SaveOutcome saved = co_await std::move(saving);
            const QList<SaveRow> rows = co_await std::move(listing);
            const SaveRow row = co_await std::move(reading);
            co_return int(!saved.id.isEmpty()) + int(!rows.isEmpty()) + int(row.id == id);
        };
        QCOMPARE(runTask(all()), 3);
    }

    // A redirect away from the origin (here: to another port) ends the exchange as offline
    // before anything, the token above all, goes there.
    void redirectsStayWithinTheOrigin_data() {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<int>("status");
        for (const char* method : {"GET", "POST"}) {
            for (int status : {301, 302, 307, 308})
                QTest::addRow("%s %d", method, status) << QByteArray(method) << status;
        }
    }
    void redirectsStayWithinTheOrigin() {
        QFETCH(QByteArray, method);
        QFETCH(int, status);
        ScriptedPeer elsewhere(answer("201 Created", "application/json", "{\"id\":\"n1\"}"));
        ScriptedPeer service("HTTP/1.1 " + QByteArray::number(status) +
                             " Moved\r\nLocation: " + elsewhere.origin().toEncoded() +
                             "/api/saves\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        useOrigin(service.origin());
        QCOMPARE(method == "POST" ? outcomeOf(API::save(QStringLiteral("https://e.test/")))
                                  : outcomeOf(API::recent(3)),
                 offline);
        QCOMPARE(elsewhere.connections, 0);
    }

    // A complete answer of 64 MiB is cut off once more than the cap has arrived, whatever its
    // status and framing.
    void cutsOffAnAnswerOverTheCap_data() {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<bool>("chunked");
        QTest::newRow("success with its length")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 67108864\r\n\r\n") << false;
        QTest::newRow("chunked success")
            << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n") << true;
        QTest::newRow("chunked error") << QByteArray("HTTP/1.1 500 Internal Server Error\r\n"
                                                     "Transfer-Encoding: chunked\r\n\r\n")
                                       << true;
    }
    void cutsOffAnAnswerOverTheCap() {
        QFETCH(QByteArray, head);
        QFETCH(bool, chunked);
        const QByteArray body(64 << 20, ' ');
        ScriptedPeer peer(chunked ? head + "4000000\r\n" + body + "\r\n0\r\n\r\n" : head + body);
        useOrigin(peer.origin());
        QCOMPARE(outcomeOf(API::recent(3)), offline);
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestAPI)
#include "tst_api.moc"
