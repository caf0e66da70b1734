#include "DevService.h"
#include "PagePeer.h"
#include "TestSupport.h"
#include "quicksave/Outbox.h"
#include "quicksave/QuickSaveModel.h"
#include "service/API.h"
#include "service/APIError.h"
#include "service/DecodingError.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>

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

const QString offline = u"api offline Can't reach Pinlark. Check your connection."_s;
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

    static int count(const QJsonArray& requests, const QString& method, const QString& path) {
        return int(std::count_if(requests.begin(), requests.end(), [&](const QJsonValue& r) {
            return r["method"_L1].toString() == method && r["path"_L1].toString().startsWith(path);
        }));
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

    // Signed out nothing is sent; a session the service does not know is its own refusal.
    void signedOut() {
        DevService service;
        QVERIFY(service.isRunning());
        fakes.defaults->set(u"origin"_s, service.origin().toString());
        QCOMPARE(outcomeOf(API::save(u"https://example.test/"_s)), unauthenticated);
        QCOMPARE(outcomeOf(API::recent(7)), unauthenticated);
        QCOMPARE(service.requests(), QJsonArray());
        useOrigin(service.origin(), u"not-a-session"_s);
        QCOMPARE(outcomeOf(API::recent(7)), unauthenticated);
        QCOMPARE(service.requests().size(), 1);
    }

    void savesReadsAndLists() {
        DevService service;
        const QString token = service.signIn();
        useOrigin(service.origin(), token);
        const QString link = u"https://example.test/one"_s;

        const SaveOutcome first = runTask(API::save(link));
        QVERIFY(!first.id.isEmpty() && !first.existing);
        QCOMPARE(runTask(API::save(link)), (SaveOutcome{first.id, true}));
        const SaveRow row = runTask(API::get(first.id));
        QCOMPARE(QStringList({*row.url, *row.status}), QStringList({link, u"queued"_s}));
        runTask(API::save(u"https://example.test/two"_s));
        QCOMPARE(runTask(API::recent(1)).value(0).url, u"https://example.test/two"_s);

        service.clearRequests();
        runTask(API::recent(5));
        const QJsonObject request = only(service.requests());
        QCOMPARE(request["path"_L1].toString() + u'?' + request["query"_L1].toString(),
                 u"/api/saves?limit=5"_s);
    }

    // The text goes out as given, in an object with "url" as its one member; the refusal keeps
    // its wording.
    void sendsTheTextUnchanged() {
        DevService service;
        const QString token = service.signIn();
        useOrigin(service.origin(), token);
        service.clearRequests();
        const QString text = u" example.test/\"quoted\" ü \n"_s;
        QCOMPARE(outcomeOf(API::save(text)), u"api bad_url That isn't a link Pinlark can save."_s);

        const QJsonObject request = only(service.requests());
        QCOMPARE(request["method"_L1].toString(), u"POST"_s);
        QCOMPARE(request["body"_L1].toString().toUtf8(),
                 QJsonDocument(QJsonObject{{u"url"_s, text}}).toJson(QJsonDocument::Compact));
        const QJsonObject headers = request["headers"_L1].toObject();
        QCOMPARE(headers["authorization"_L1].toString() + u' ' +
                     headers["content-type"_L1].toString(),
                 u"Bearer "_s + token + u" application/json"_s);
    }

    // Answers of every kind through the transport; the decoding of error bodies has its own
    // table in tst_records.
    void mapsAnswers() {
        PagePeer peer;
        useOrigin(peer.url());
        peer.fallback = httpAnswer("201 Created", "application/json", "{\"id\":\"n1\"}");
        QCOMPARE(outcomeOf(API::save(u"https://e.test/"_s)), u"ok"_s);
        // A reply cut short is offline.
        peer.fallback = "HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\n{\"saves\"";
        QCOMPARE(outcomeOf(API::recent(3)), offline);
    }

    void refusedConnectionIsOffline() {
        useOrigin(QUrl(u"http://127.0.0.1:%1"_s.arg(closedPort())));
        QCOMPARE(outcomeOf(API::recent(7)), offline);
    }

    void silentServerTimesOut() {
        PagePeer silent;
        silent.fallback.clear();
        useOrigin(silent.url());
        API::s_transferTimeout = 300ms;
        QCOMPARE(outcomeOf(API::get(u"s1"_s), 10s), offline);
        QCOMPARE(silent.connections, 1);
    }

    void cancellingAbortsTheExchange() {
        PagePeer silent;
        silent.fallback.clear();
        useOrigin(silent.url());
        CancelToken cancel;
        silent.onConnection = [cancel] { cancel.cancel(); };
        QCOMPARE(outcomeOf(API::save(u"https://e.test/"_s, cancel), 10s), offline);
        QCOMPARE(silent.connections, 1);

        // Cancelled before it starts: it ends before the event loop could send anything.
        QCoro::Task<QList<SaveRow>> task = API::recent(3, cancel);
        QVERIFY(task.isReady());
        QCOMPARE(outcomeOf(std::move(task)), offline);
    }

    // A redirect away from the origin (here: to another port) ends the exchange as offline
    // before anything, the token above all, goes there.
    void redirectsStayWithinTheOrigin_data() {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<int>("status");
        for (const char* method : {"GET", "POST"}) {
            for (int status : {302, 307})
                QTest::addRow("%s %d", method, status) << QByteArray(method) << status;
        }
    }
    void redirectsStayWithinTheOrigin() {
        QFETCH(QByteArray, method);
        QFETCH(int, status);
        PagePeer elsewhere;
        elsewhere.fallback = httpAnswer("201 Created", "application/json", "{\"id\":\"n1\"}");
        PagePeer service;
        service.fallback =
            httpAnswer(QByteArray::number(status) + " Moved", {}, {},
                       "Location: " + elsewhere.url(u"/api/saves"_s).toEncoded() + "\r\n");
        useOrigin(service.url());
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
        QTest::newRow("chunked error") << QByteArray("HTTP/1.1 500 Internal Server Error\r\n"
                                                     "Transfer-Encoding: chunked\r\n\r\n")
                                       << true;
    }
    void cutsOffAnAnswerOverTheCap() {
        QFETCH(QByteArray, head);
        QFETCH(bool, chunked);
        const QByteArray body(64 << 20, ' ');
        PagePeer peer;
        peer.fallback = chunked ? head + "4000000\r\n" + body + "\r\n0\r\n\r\n" : head + body;
        useOrigin(peer.url());
        QCOMPARE(outcomeOf(API::recent(3)), offline);
    }

    // The quick-save model on the real client: saves, then polls on the manual clock until the
    // save is filed.
    void quickSaveSavesAndPollsUntilFiled() {
        DevService service; // settles on the third read
        QVERIFY(service.isRunning());
        useOrigin(service.origin(), service.signIn());
        service.clearRequests();

        QuickSaveModel model;
        model.setUrl(u" https://example.test/article \n"_s);
        model.save();
        // Saved, refreshed, and asleep before the first poll.
        QTRY_VERIFY(fakes.clock->pendingCount() == 1);
        const auto* done = std::get_if<phase::Done>(&model.phase());
        QVERIFY(done);
        QCOMPARE(done->row.status, u"queued"_s);

        for (int poll = 1; poll <= 3; ++poll) {
            fakes.clock->advance(1500ms);
            if (poll < 3)
                QTRY_VERIFY(fakes.clock->pendingCount() == 1);
        }
        QTRY_COMPARE(std::get<phase::Done>(model.phase()).row.status, u"done"_s);
        QTRY_COMPARE(count(service.requests(), u"GET"_s, u"/api/saves"_s), 5);
        QCOMPARE(count(service.requests(), u"GET"_s, u"/api/saves/"_s), 3);
    }

    // Three links saved while the service is down wait in the outbox's file. The app ends
    // without a word; started again with the service back, it gives each link to the service
    // once, in order, and leaves no file.
    void outboxDeliversAfterARestart() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"outbox.json"_s);
        // A port nobody listens on now, where the stand-in comes back later.
        quint16 port = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            port = probe.serverPort();
        }
        useOrigin(QUrl(u"http://127.0.0.1:%1"_s.arg(port)));
        const QStringList links{u"https://e.test/1"_s, u"https://e.test/2"_s,
                                u"https://e.test/3"_s};
        {
            Outbox outbox(path, SavesClient::service());
            QuickSaveModel model(SavesClient::service(), &outbox);
            for (const QString& link : links) {
                model.setUrl(link);
                model.save();
                QTRY_COMPARE(model.phase(), Phase(phase::Queued{}));
            }
        }

        DevService service({u"--port"_s, QString::number(port)});
        useOrigin(service.origin(), service.signIn());
        service.clearRequests();
        Outbox outbox(path, SavesClient::service());
        outbox.start();
        QTRY_COMPARE(outbox.count(), 0);
        QStringList posted;
        for (const QJsonValue request : service.requests())
            posted << QJsonDocument::fromJson(request["body"_L1].toString().toUtf8())["url"_L1]
                          .toString();
        QCOMPARE(posted, links);
        QVERIFY(!QFile::exists(path));
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestAPI)
#include "tst_api.moc"
