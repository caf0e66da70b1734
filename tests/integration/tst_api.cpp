#include "DevService.h"
#include "PagePeer.h"
#include "TestSupport.h"
#include "service/API.h"
#include "service/APIError.h"
#include "service/DecodingError.h"
#include "session/Session.h"

#include <QJsonDocument>
#include <QJsonObject>

using namespace std::chrono_literals;

namespace pinlark {

namespace {

// What a call ended with, in one comparable text: "ok", "api <code> <message>" or "decoding".
template <typename T>
QString outcomeOf(QCoro::Task<T> task, std::chrono::milliseconds watchdog = 20s) {
    try {
        runTask(std::move(task), watchdog);
        return u"ok"_s;
    } catch (const APIError& e) {
        return u"api %1 %2"_s.arg(e.code(), e.message());
    } catch (const DecodingError&) {
        return u"decoding"_s;
    }
}

const QString unauthenticated = u"api unauthenticated Sign in to save."_s;

} // namespace

class TestAPI : public QObject {
    Q_OBJECT

    FakePlatform fakes;

    void useOrigin(const QUrl& origin, const QString& token = u"token"_s) {
        fakes.defaults->set(u"origin"_s, origin.toString());
        QNetworkCookie cookie("authjs.session-token", token.toUtf8());
        cookie.setDomain(origin.host());
        cookie.setPath(u"/"_s);
        fakes.cookieStore->cookies = {cookie};
    }

    // Each request as "METHOD path query".
    static QStringList sent(const QJsonArray& requests) {
        QStringList lines;
        for (const QJsonValue r : requests)
            lines << QStringList{r["method"_L1].toString(), r["path"_L1].toString(),
                                 r["query"_L1].toString()}
                         .join(u' ')
                         .trimmed();
        return lines;
    }

private Q_SLOTS:
    void init() {
        TestState::reset();
        fakes = FakePlatform::install();
    }

    // Signed out nothing is sent; a session the service does not know is its own refusal.
    void signedOut() {
        DevService service;
        fakes.defaults->set(u"origin"_s, service.origin().toString());
        QCOMPARE(outcomeOf(API::save(u"https://example.test/"_s)), unauthenticated);
        QCOMPARE(outcomeOf(API::recent(7)), unauthenticated);
        QCOMPARE(service.requests(), QJsonArray());
        useOrigin(service.origin(), u"not-a-session"_s);
        QCOMPARE(outcomeOf(API::recent(7)), unauthenticated);
        QCOMPARE(service.requests().size(), 1);
        // A save meant for another session than the one signed in is not sent either.
        const QString link = u"https://example.test/"_s;
        QCOMPARE(outcomeOf(API::save(link, {}, Session::fingerprintOf(u"other"_s))),
                 u"api other_session Another account is signed in now."_s);
        QCOMPARE(service.requests().size(), 1);
        QCOMPARE(outcomeOf(API::save(link, {}, Session::fingerprintOf(u"not-a-session"_s))),
                 unauthenticated);
        QCOMPARE(service.requests().size(), 2);
    }

    // The text goes out as given, in an object with "url" as its one member, with the token;
    // the refusal keeps its wording. Then saves, reads and lists, each on its own endpoint.
    void savesReadsAndLists() {
        DevService service;
        const QString token = service.signIn();
        useOrigin(service.origin(), token);
        service.clearRequests();
        const QString text = u" example.test/\"quoted\" ü \n"_s;
        QCOMPARE(outcomeOf(API::save(text)), u"api bad_url That isn't a link Pinlark can save."_s);
        const QJsonObject request = service.requests().first().toObject();
        QCOMPARE(request["body"_L1].toString().toUtf8(),
                 QJsonDocument(QJsonObject{{u"url"_s, text}}).toJson(QJsonDocument::Compact));
        const QJsonObject headers = request["headers"_L1].toObject();
        QCOMPARE(headers["authorization"_L1].toString() + u' ' +
                     headers["content-type"_L1].toString(),
                 u"Bearer "_s + token + u" application/json"_s);

        const QString link = u"https://example.test/one"_s;
        const SaveOutcome first = runTask(API::save(link));
        QVERIFY(!first.id.isEmpty() && !first.existing);
        QCOMPARE(runTask(API::save(link)), (SaveOutcome{first.id, true}));
        const SaveRow row = runTask(API::get(first.id));
        QCOMPARE(QStringList({*row.url, *row.status}), QStringList({link, u"queued"_s}));
        runTask(API::save(u"https://example.test/two"_s));
        QCOMPARE(runTask(API::recent(1)).value(0).url, u"https://example.test/two"_s);
        QCOMPARE(sent(service.requests()),
                 QStringList({"POST /api/saves", "POST /api/saves", "POST /api/saves",
                              "GET /api/saves/" + first.id, "POST /api/saves",
                              "GET /api/saves limit=1"}));
    }

    // Every exchange that does not complete ends as offline. `peer` is the HTTP answer the peer
    // sends ("{elsewhere}" stands for a second peer's address, "{64 MiB}" for that many spaces),
    // or else what becomes of a call to a peer that never answers: "time-out", "cancel on
    // connection", "cancel before" (it starts cancelled); or "closed": nobody listens. A
    // redirect away from the origin (here: another port) ends before anything, the token above
    // all, goes there.
    void endsOffline_data() {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("peer");
        const auto row = [](const char* name, const char* method, const QByteArray& peer) {
            QTest::newRow(name) << QByteArray(method) << peer;
        };
        row("closed port", "GET", "closed");
        row("cut short", "GET", "HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\n{\"saves\"");
        row("silent, timed out", "GET", "time-out");
        row("cancelled once connected", "POST", "cancel on connection");
        row("cancelled before it starts", "GET", "cancel before");
        // A read sent on as a read, and a save sent on with its body (307).
        for (const auto& [method, status] : {std::pair{"GET", "302"}, std::pair{"POST", "307"}})
            row(qPrintable(u"%1 %2 elsewhere"_s.arg(method, status)), method,
                httpAnswer(QByteArray(status) + " Moved", {}, {}, "Location: {elsewhere}\r\n"));
        // Cut off once more than the cap has arrived, whatever the status and framing.
        row("over the cap", "GET", "HTTP/1.1 200 OK\r\nContent-Length: 67108864\r\n\r\n{64 MiB}");
        row("over the cap, chunked error", "GET",
            "HTTP/1.1 500 Internal Server Error\r\nTransfer-Encoding: chunked\r\n\r\n"
            "4000000\r\n{64 MiB}\r\n0\r\n\r\n");
    }
    void endsOffline() {
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, peer);
        PagePeer elsewhere, service;
        service.fallback =
            peer.startsWith("HTTP/")
                ? peer.replace("{elsewhere}", elsewhere.url(u"/api/saves"_s).toEncoded())
                      .replace("{64 MiB}", QByteArray(64 << 20, ' '))
                : QByteArray();
        useOrigin(peer == "closed" ? QUrl(u"http://127.0.0.1:%1"_s.arg(closedPort()))
                                   : service.url());
        CancelToken cancel;
        if (peer == "time-out")
            API::s_transferTimeout = 300ms;
        if (peer == "cancel on connection")
            service.onConnection = [cancel] { cancel.cancel(); };
        if (peer == "cancel before")
            cancel.cancel();
        bool ready = false;
        const auto settle = [&](auto task) {
            ready = task.isReady();
            return outcomeOf(std::move(task), 10s);
        };
        QCOMPARE(method == "POST" ? settle(API::save(u"https://e.test/"_s, cancel))
                                  : settle(API::recent(3, cancel)),
                 u"api offline Can't reach Pinlark. Check your connection."_s);
        // Cancelled before it starts, it ends before the event loop could send anything.
        QCOMPARE(ready, peer == "cancel before");
        QCOMPARE(service.connections, ready || peer == "closed" ? 0 : 1);
        QCOMPARE(elsewhere.connections, 0);
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestAPI)
#include "tst_api.moc"
