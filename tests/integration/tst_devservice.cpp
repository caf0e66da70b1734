#include "DevService.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

namespace pinlark {

namespace {

// One exchange made by curl, a client nobody here wrote.
struct Answer {
    int status = 0;
    QMap<QString, QString> headers; // lower-cased names
    QByteArray body;

    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    QString error() const { return json()[QLatin1String("error")].toString(); }
};

Answer curl(const QStringList& arguments, const QByteArray& input = {}) {
    QProcess process;
    process.start(QStringLiteral("curl"), QStringList{QStringLiteral("-sS"), QStringLiteral("-i"),
                                                      QStringLiteral("--http1.1")} +
                                              arguments);
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(20000);
    const QByteArray out = process.readAllStandardOutput();
    Answer answer;
    const qsizetype end = out.indexOf("\r\n\r\n");
    if (end < 0)
        return answer;
    const QList<QByteArray> lines = out.left(end).split('\n');
    answer.status = lines.first().split(' ').value(1).toInt();
    for (const QByteArray& line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            answer.headers.insert(QString::fromLatin1(line.left(colon)).toLower(),
                                  QString::fromUtf8(line.mid(colon + 1).trimmed()));
    }
    answer.body = out.mid(end + 4);
    return answer;
}

} // namespace

class TestDevService : public QObject {
    Q_OBJECT

    std::unique_ptr<DevService> service;
    QString token;

    QString url(const QString& path) const { return service->url(path).toString(); }
    QString bearer(const QString& t) const { return QStringLiteral("Authorization: Bearer ") + t; }

    Answer save(const QByteArray& body, const QString& as) {
        return curl({QStringLiteral("-X"), QStringLiteral("POST"), QStringLiteral("-H"), bearer(as),
                     QStringLiteral("-H"), QStringLiteral("Content-Type: application/json"),
                     QStringLiteral("-H"), QStringLiteral("Expect:"),
                     QStringLiteral("--data-binary"), QStringLiteral("@-"),
                     url(QStringLiteral("api/saves"))},
                    body);
    }
    Answer saveLink(const QString& link) {
        return save(QJsonDocument(QJsonObject{{QStringLiteral("url"), link}}).toJson(), token);
    }
    Answer get(const QString& pathAndQuery, const QString& as) {
        return curl({QStringLiteral("-H"), bearer(as), url(QString()) + pathAndQuery});
    }
    QString signIn(const QString& email, const QStringList& extra = {}) {
        const Answer a =
            curl(QStringList{QStringLiteral("--data-urlencode"), QStringLiteral("email=") + email,
                             url(QStringLiteral("signin"))} +
                 extra);
        return a.headers.value(QStringLiteral("set-cookie"))
            .section(QLatin1Char(';'), 0, 0)
            .section(QLatin1Char('='), 1);
    }

private Q_SLOTS:
    void init() {
        service = std::make_unique<DevService>();
        QVERIFY(service->isRunning());
        token = signIn(QStringLiteral("reader@example.test"));
        QCOMPARE(token.size(), 43);
    }
    void cleanup() { service.reset(); }

    void signsIn() {
        const Answer plain = curl({QStringLiteral("-d"), QStringLiteral("email=a%40example.test"),
                                   url(QStringLiteral("signin"))});
        QCOMPARE(plain.status, 303);
        QCOMPARE(plain.headers.value(QStringLiteral("location")), QStringLiteral("/saves"));
        QVERIFY2(QRegularExpression(
                     QStringLiteral("^authjs\\.session-token=[A-Za-z0-9_-]{43}; Path=/; HttpOnly$"))
                     .match(plain.headers.value(QStringLiteral("set-cookie")))
                     .hasMatch(),
                 qPrintable(plain.headers.value(QStringLiteral("set-cookie"))));

        const Answer secure = curl(
            {QStringLiteral("-H"), QStringLiteral("X-Forwarded-Proto: https"), QStringLiteral("-d"),
             QStringLiteral("email=a%40example.test"), url(QStringLiteral("signin"))});
        QVERIFY(QRegularExpression(
                    QStringLiteral(
                        "^__Secure-authjs\\.session-token=[^;]{43}; Path=/; HttpOnly; Secure$"))
                    .match(secure.headers.value(QStringLiteral("set-cookie")))
                    .hasMatch());

        const Answer noEmail =
            curl({QStringLiteral("-d"), QStringLiteral("email="), url(QStringLiteral("signin"))});
        QCOMPARE(noEmail.status, 400);
        QVERIFY(!noEmail.headers.contains(QStringLiteral("set-cookie")));

        // The same account again, under another session.
        QCOMPARE(saveLink(QStringLiteral("https://example.test/a")).status, 201);
        const QString again = signIn(QStringLiteral("READER@example.test"));
        QVERIFY(again != token);
        QCOMPARE(
            get(QStringLiteral("api/saves"), again).json()[QLatin1String("saves")].toArray().size(),
            1);
    }

    void refusesBadRequests_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error");
        QTest::newRow("not JSON") << QByteArray("{\"url\":") << 400 << QStringLiteral("bad_json");
        QTest::newRow("no url") << QByteArray("{\"link\":\"https://example.test\"}") << 400
                                << QStringLiteral("missing_url");
        QTest::newRow("not an object")
            << QByteArray("[\"https://example.test\"]") << 400 << QStringLiteral("missing_url");
        QTest::newRow("url not a string")
            << QByteArray("{\"url\":5}") << 400 << QStringLiteral("bad_url");
        QTest::newRow("no scheme")
            << QByteArray("{\"url\":\"example.test/a\"}") << 400 << QStringLiteral("bad_url");
        QTest::newRow("ftp") << QByteArray("{\"url\":\"ftp://example.test/a\"}") << 400
                             << QStringLiteral("bad_url");
        QTest::newRow("http without a host")
            << QByteArray("{\"url\":\"http:/a\"}") << 400 << QStringLiteral("bad_url");
        QTest::newRow("screenshot reference")
            << QByteArray("{\"url\":\"screenshot:42\"}") << 201 << QString();
        QByteArray big(64 * 1024 + 1, ' ');
        big.replace(0, 31, "{\"url\":\"https://example.test/\"}");
        QTest::newRow("over 64 KiB") << big << 413 << QStringLiteral("too_large");
        QTest::newRow("exactly 64 KiB") << big.left(64 * 1024) << 201 << QString();
    }
    void refusesBadRequests() {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QString, error);
        const Answer a = save(body, token);
        QCOMPARE(a.status, status);
        QCOMPARE(a.error(), error);
        if (status >= 400)
            QVERIFY(!a.json()[QLatin1String("message")].toString().isEmpty());
        // Still serving, and nothing stored by a refused request.
        const Answer list = get(QStringLiteral("api/saves"), token);
        QCOMPARE(list.status, 200);
        QCOMPARE(list.json()[QLatin1String("saves")].toArray().size(), status == 201 ? 1 : 0);
    }

    void answersUnauthenticatedAndUnknown_data() {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error");
        const QString get = QStringLiteral("GET");
        QTest::newRow("save signed out") << QStringLiteral("POST") << QStringLiteral("api/saves")
                                         << false << 401 << QStringLiteral("unauthenticated");
        QTest::newRow("list signed out") << get << QStringLiteral("api/saves?limit=3") << false
                                         << 401 << QStringLiteral("unauthenticated");
        QTest::newRow("one signed out") << get << QStringLiteral("api/saves/x") << false << 401
                                        << QStringLiteral("unauthenticated");
        QTest::newRow("unknown API path signed out") << get << QStringLiteral("api/other") << false
                                                     << 401 << QStringLiteral("unauthenticated");
        QTest::newRow("unknown API path")
            << get << QStringLiteral("api/other") << true << 404 << QStringLiteral("not_found");
        QTest::newRow("unknown id") << get << QStringLiteral("api/saves/nope") << true << 404
                                    << QStringLiteral("not_found");
        QTest::newRow("unknown page")
            << get << QStringLiteral("nowhere") << false << 404 << QStringLiteral("not_found");
        QTest::newRow("unknown method") << QStringLiteral("DELETE") << QStringLiteral("api/saves")
                                        << true << 404 << QStringLiteral("not_found");
        QTest::newRow("no release published") << get << QStringLiteral("api/mac/version") << false
                                              << 404 << QStringLiteral("not_found");
    }
    void answersUnauthenticatedAndUnknown() {
        QFETCH(QString, method);
        QFETCH(QString, path);
        QFETCH(bool, signedIn);
        QFETCH(int, status);
        QFETCH(QString, error);
        // A body, so that the server reads a POST as a whole request.
        QStringList args{QStringLiteral("-X"), method, QStringLiteral("-d"), QStringLiteral("{}"),
                         url(QString()) + path};
        if (signedIn)
            args << QStringLiteral("-H") << bearer(token);
        const Answer a = curl(args);
        QCOMPARE(a.status, status);
        QCOMPARE(a.error(), error);
        if (error == QLatin1String("unauthenticated"))
            QCOMPARE(a.json()[QLatin1String("message")].toString(),
                     QStringLiteral("Sign in to save."));
    }

    void keepsOneSavePerLinkAndAccount() {
        const Answer first = saveLink(QStringLiteral("https://example.test/a"));
        QCOMPARE(first.status, 201);
        QCOMPARE(first.json().keys(), QStringList{QStringLiteral("id")});
        const Answer again = saveLink(QStringLiteral("https://example.test/a"));
        QCOMPARE(again.status, 200);
        QCOMPARE(again.json(),
                 (QJsonObject{{QStringLiteral("id"), first.json()[QLatin1String("id")]},
                              {QStringLiteral("existing"), true}}));

        // Another account saves the same link anew and cannot read the first one's save.
        const QString other = signIn(QStringLiteral("other@example.test"));
        const Answer theirs = save("{\"url\":\"https://example.test/a\"}", other);
        QCOMPARE(theirs.status, 201);
        QCOMPARE(
            get(QStringLiteral("api/saves/") + first.json()[QLatin1String("id")].toString(), other)
                .status,
            404);
    }

    void settles_data() {
        QTest::addColumn<int>("settleAfter");
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("final");
        QTest::newRow("default") << -1 << QStringLiteral("https://www.example.test/how-to-read")
                                 << QStringLiteral("done");
        QTest::newRow("at once") << 0 << QStringLiteral("https://example.test/")
                                 << QStringLiteral("done");
        QTest::newRow("later") << 4 << QStringLiteral("https://example.test/x")
                               << QStringLiteral("done");
        QTest::newRow("unreachable host")
            << 1 << QStringLiteral("https://gone.invalid/page") << QStringLiteral("error");
    }
    void settles() {
        QFETCH(int, settleAfter);
        QFETCH(QString, link);
        QFETCH(QString, final);
        if (settleAfter >= 0) {
            service = std::make_unique<DevService>(
                QStringList{QStringLiteral("--settle-after"), QString::number(settleAfter)});
            token = signIn(QStringLiteral("reader@example.test"));
        }
        const int reads = settleAfter < 0 ? 2 : settleAfter;
        const QString id = saveLink(link).json()[QLatin1String("id")].toString();
        const auto listed = [&] {
            return get(QStringLiteral("api/saves"), token)
                .json()[QLatin1String("saves")][0][QLatin1String("status")]
                .toString();
        };
        QCOMPARE(listed(), QStringLiteral("queued"));
        for (int read = 1; read <= reads; ++read) {
            const QJsonObject row = get(QStringLiteral("api/saves/") + id, token).json();
            QCOMPARE(row[QLatin1String("status")].toString(),
                     read == 1 ? QStringLiteral("queued") : QStringLiteral("processing"));
            QVERIFY(!row.contains(QLatin1String("title")));
            // Reads through the list do not count.
            QCOMPARE(listed(), row[QLatin1String("status")].toString());
        }
        for (int read = 0; read < 2; ++read) {
            const QJsonObject row = get(QStringLiteral("api/saves/") + id, token).json();
            QCOMPARE(row[QLatin1String("status")].toString(), final);
            QCOMPARE(row[QLatin1String("url")].toString(), link);
            if (final == QLatin1String("error")) {
                QVERIFY(!row[QLatin1String("error")].toString().isEmpty());
                continue;
            }
            for (const char* member : {"title", "synopsis", "platform"})
                QVERIFY(!row[QLatin1String(member)].toString().isEmpty());
            const QJsonArray tags = row[QLatin1String("tags")].toArray();
            QVERIFY(!tags.isEmpty() && tags.size() <= 3);
        }
    }

    void listsNewestFirstWithinTheLimit_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<int>("count");
        QTest::newRow("limit") << QStringLiteral("?limit=2") << 2;
        QTest::newRow("no limit") << QString() << 20;
        QTest::newRow("bad limit") << QStringLiteral("?limit=ten") << 20;
        QTest::newRow("zero clamps to one") << QStringLiteral("?limit=0") << 1;
        QTest::newRow("negative clamps to one") << QStringLiteral("?limit=-4") << 1;
        QTest::newRow("above the saves") << QStringLiteral("?limit=500") << 22;
    }
    void listsNewestFirstWithinTheLimit() {
        QFETCH(QString, query);
        QFETCH(int, count);
        QStringList transfers; // one curl, many transfers
        for (int i = 0; i < 22; ++i)
            transfers << QStringLiteral("-H") << bearer(token) << QStringLiteral("-d")
                      << QStringLiteral("{\"url\":\"https://example.test/%1\"}").arg(i)
                      << url(QStringLiteral("api/saves")) << QStringLiteral("--next");
        curl(transfers);
        const QJsonArray saves = get(QStringLiteral("api/saves") + query, token)
                                     .json()[QLatin1String("saves")]
                                     .toArray();
        QCOMPARE(saves.size(), count);
        for (int i = 0; i < count; ++i)
            QCOMPARE(saves[i][QLatin1String("url")].toString(),
                     QStringLiteral("https://example.test/%1").arg(21 - i));
    }

    void servesPages() {
        const Answer signedOut = curl({url(QStringLiteral("saves"))});
        QCOMPARE(signedOut.status, 303);
        QCOMPARE(signedOut.headers.value(QStringLiteral("location")), QStringLiteral("/signin"));

        QCOMPARE(saveLink(QStringLiteral("https://example.test/a?x=1&y=2")).status, 201);
        // A newer save, read until it has settled.
        const QString id = saveLink(QStringLiteral("https://www.example.test/how-to-read"))
                               .json()[QLatin1String("id")]
                               .toString();
        for (int read = 0; read < 3; ++read)
            get(QStringLiteral("api/saves/") + id, token);
        const QString cookie = QStringLiteral("authjs.session-token=") + token;
        const Answer saves = curl({QStringLiteral("-b"), cookie, url(QStringLiteral("saves"))});
        QCOMPARE(saves.status, 200);
        QVERIFY(saves.body.contains("<title>Saves</title>"));
        QVERIFY(saves.body.contains("href=\"/style.css\""));
        QVERIFY(!saves.body.contains("&y="));
        // Newest first: the settled one with its title, host, tags and status, then the waiting
        // one as its link, with its host and status.
        const qsizetype settled = saves.body.indexOf(
            ">How to read</a>\n<div class=\"meta\"><span class=\"host\">www.example.test</span>"
            "<span class=\"tag\">web</span><span class=\"tag\">example</span><span "
            "class=\"tag\">how-to-read</span><span class=\"status status-done\">");
        const qsizetype waiting = saves.body.indexOf(
            "href=\"https://example.test/a?x=1&amp;y=2\">https://example.test/a?x=1&amp;y=2</a>\n"
            "<div class=\"meta\"><span "
            "class=\"host\">example.test</span><span class=\"status status-queued\">");
        QVERIFY2(settled >= 0 && waiting > settled, saves.body.constData());
        const Answer style = curl({url(QStringLiteral("style.css"))});
        QCOMPARE(style.status, 200);
        QVERIFY(style.headers.value(QStringLiteral("content-type")).startsWith("text/css"));
        QVERIFY(style.body.contains("prefers-color-scheme: dark"));

        // The hand-off page: the sign-in form that comes back when signed out, the script that
        // posts the session to the app's port when signed in.
        const QString connect = url(QStringLiteral("connect/mac")) +
                                QStringLiteral("?port=48123&state=ab%3C/script%3E");
        const Answer handOffSignedOut = curl({connect});
        QCOMPARE(handOffSignedOut.status, 200);
        QVERIFY(handOffSignedOut.body.contains("name=\"email\""));
        QVERIFY(handOffSignedOut.body.contains(
            "value=\"/connect/mac?port=48123&amp;state=ab%3C/script%3E\""));
        const Answer handOff = curl({QStringLiteral("-b"), cookie, connect});
        QCOMPARE(handOff.status, 200);
        QVERIFY(handOff.body.contains("http://127.0.0.1:48123/"));
        QVERIFY(handOff.body.contains(("\"token\":\"" + token + "\"").toUtf8()));
        QVERIFY(handOff.body.contains("\"cookieName\":\"authjs.session-token\""));
        QVERIFY(handOff.body.contains("\"secure\":false"));
        QVERIFY(handOff.body.contains("\"state\":\"ab\\u003c/script\\u003e\""));
        QCOMPARE(curl({QStringLiteral("-b"), cookie,
                       url(QString()) + QStringLiteral("connect/mac?state=s")})
                     .status,
                 400);
    }

    void publishesReleases() {
        QTemporaryDir releases;
        const auto write = [&](const QString& name, const QByteArray& bytes) {
            QFile file(QDir(releases.path()).filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
        };
        write(QStringLiteral("1.9.json"), "{\"version\":\"1.9\",\"url\":\"releases/old.zip\"}");
        write(QStringLiteral("1.10.json"), "{\"version\":\"1.10\",\"url\":\"releases/new.zip\"}");
        write(QStringLiteral("broken.json"), "{\"version\":");
        write(QStringLiteral("new.zip"), "PK-new");
        service = std::make_unique<DevService>(
            QStringList{QStringLiteral("--releases"), releases.path()});

        const Answer manifest = curl({url(QStringLiteral("api/mac/version"))});
        QCOMPARE(manifest.status, 200);
        QCOMPARE(manifest.json()[QLatin1String("version")].toString(), QStringLiteral("1.10"));
        QCOMPARE(curl({url(QStringLiteral("releases/new.zip"))}).body, QByteArray("PK-new"));
        QCOMPARE(curl({url(QStringLiteral("releases/old.zip"))}).status, 404);
        QCOMPARE(curl({url(QStringLiteral("releases/1.9.json"))}).status, 404);
        QCOMPARE(curl({QStringLiteral("--path-as-is"), url(QStringLiteral("releases/../1.9.json"))})
                     .status,
                 404);
        QVERIFY(
            curl({url(QStringLiteral("download"))}).body.contains("href=\"/releases/new.zip\""));
    }

    void handOffKeepsTheStateAsGiven() {
        const Answer handOff =
            curl({QStringLiteral("-b"), QStringLiteral("authjs.session-token=") + token,
                  url(QStringLiteral("connect/mac")) + QStringLiteral("?port=4242&state=a%251b")});
        QVERIFY(handOff.body.contains("\"state\":\"a%1b\""));
        QVERIFY(handOff.body.contains("fetch(\"http://127.0.0.1:4242/\""));
    }

    // Requests whose size the service can't bound before reading them are refused unread and
    // unrecorded, and it goes on serving.
    void refusesUnboundedRequests_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error");
        const QString header = QStringLiteral("-H");
        const QString body = QStringLiteral("--data-binary");
        QTest::newRow("chunked") << QStringList{header,
                                                QStringLiteral("Transfer-Encoding: chunked"), body,
                                                QStringLiteral("{}")}
                                 << 413 << QStringLiteral("too_large");
        QTest::newRow("compressed") << QStringList{header, QStringLiteral("Content-Encoding: gzip"),
                                                   body, QStringLiteral("{}")}
                                    << 413 << QStringLiteral("too_large");
        QTest::newRow("a body without a length")
            << QStringList{QStringLiteral("-X"), QStringLiteral("POST")} << 411
            << QStringLiteral("length_required");
        QStringList bigHead;
        for (int i = 0; i < 12; ++i)
            bigHead << header
                    << QStringLiteral("X-Filler-%1: %2")
                           .arg(QString::number(i), QString(8000, QLatin1Char('x')));
        QTest::newRow("a head over 64 KiB") << bigHead << 400 << QStringLiteral("bad_request");
    }
    void refusesUnboundedRequests() {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, error);
        service->clearRequests();
        const Answer a = curl(arguments << url(QStringLiteral("api/saves")));
        QCOMPARE(a.status, status);
        QCOMPARE(a.error(), error);
        QCOMPARE(service->requests(), QJsonArray());
        QCOMPARE(get(QStringLiteral("api/saves"), token).status, 200);
    }

    void boundsTheRequestLogInBytes() {
        QTemporaryFile body;
        QVERIFY(body.open());
        body.write(QByteArray(60000, 'x'));
        body.close();
        QStringList transfers;
        for (int i = 0; i < 90; ++i)
            transfers << QStringLiteral("-H") << QStringLiteral("Content-Type: application/json")
                      << QStringLiteral("--data-binary") << QLatin1Char('@') + body.fileName()
                      << url(QStringLiteral("api/saves")) + QStringLiteral("?n=%1").arg(i)
                      << QStringLiteral("--next");
        curl(transfers.mid(0, transfers.size() - 1));
        const QJsonArray requests = service->requests();
        qsizetype bytes = 0;
        for (const QJsonValue& request : requests)
            bytes += QJsonDocument(request.toObject()).toJson(QJsonDocument::Compact).size();
        QVERIFY2(bytes <= 4 * 1024 * 1024, qPrintable(QString::number(bytes)));
        QCOMPARE(requests.last()[QLatin1String("query")].toString(), QStringLiteral("n=89"));
    }

    void servesBesideIdleConnections() {
        std::vector<std::unique_ptr<QTcpSocket>> idle;
        for (int i = 0; i < 16; ++i) {
            idle.push_back(std::make_unique<QTcpSocket>());
            idle.back()->connectToHost(QHostAddress::LocalHost, quint16(service->origin().port()));
            QVERIFY(idle.back()->waitForConnected(5000));
        }
        // A watchdog well below the time those connections may stay.
        const Answer a = curl(
            {QStringLiteral("--max-time"), QStringLiteral("2"), url(QStringLiteral("signin"))});
        QCOMPARE(a.status, 200);
    }

    // What the service records, sessions included, is for the machine it runs on only.
    void servesDevRoutesOnLoopbackOnly() {
        service = std::make_unique<DevService>(
            QStringList{QStringLiteral("--host"), QStringLiteral("0.0.0.0")});
        QVERIFY(service->isRunning());
        QCOMPARE(curl({url(QStringLiteral("signin"))}).status, 200);
        const Answer log = curl({url(QStringLiteral("dev/requests"))});
        QCOMPARE(log.status, 404);
        QVERIFY(!log.body.contains("signin"));
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestDevService)
#include "tst_devservice.moc"
