#include "Curl.h"
#include "DevService.h"
#include "TestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTemporaryFile>

namespace pinlark {

using Answer = CurlAnswer;

class TestDevService : public QObject {
    Q_OBJECT

    std::unique_ptr<DevService> service;
    QString token;

    QString url(const QString& path) const { return service->url(path).toString(); }
    QString bearer(const QString& t) const { return u"Authorization: Bearer "_s + t; }

    Answer saveLink(const QString& link) {
        return curl({u"-H"_s, bearer(token), u"-H"_s, u"Content-Type: application/json"_s, u"-H"_s,
                     u"Expect:"_s, u"--data-binary"_s, u"@-"_s, url(u"api/saves"_s)},
                    QJsonDocument(QJsonObject{{u"url"_s, link}}).toJson());
    }
    Answer get(const QString& pathAndQuery) {
        return curl({u"-H"_s, bearer(token), url(QString()) + pathAndQuery});
    }

private Q_SLOTS:
    void init() {
        service = std::make_unique<DevService>();
        QVERIFY(service->isRunning());
        token = service->signIn();
        QCOMPARE(token.size(), 43);
    }
    void cleanup() { service.reset(); }

    // What the client meets only when something is wrong. A refused request stores nothing.
    void refusesBadRequests_data() {
        QTest::addColumn<QString>("request"); // method and path
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error");
        const auto save = [](const char* name, const QByteArray& body, int status,
                             const QString& error) {
            QTest::newRow(name) << u"POST api/saves"_s << true << body << status << error;
        };
        save("not JSON", "{\"url\":", 400, u"bad_json"_s);
        save("no url", "{\"link\":\"https://example.test\"}", 400, u"missing_url"_s);
        save("ftp", "{\"url\":\"ftp://example.test/a\"}", 400, u"bad_url"_s);
        save("screenshot reference", "{\"url\":\"screenshot:42\"}", 201, QString());
        QByteArray big(64 * 1024 + 1, ' ');
        big.replace(0, 31, "{\"url\":\"https://example.test/\"}");
        save("over 64 KiB", big, 413, u"too_large"_s);
        save("exactly 64 KiB", big.left(64 * 1024), 201, QString());
        QTest::newRow("unknown API path signed out")
            << u"GET api/other"_s << false << QByteArray("{}") << 401 << u"unauthenticated"_s;
        QTest::newRow("unknown id")
            << u"GET api/saves/nope"_s << true << QByteArray("{}") << 404 << u"not_found"_s;
    }
    void refusesBadRequests() {
        QFETCH(QString, request);
        QFETCH(bool, signedIn);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QString, error);
        QStringList args{u"-X"_s, request.section(u' ', 0, 0), u"--data-binary"_s, u"@-"_s,
                         url(request.section(u' ', 1))};
        args << u"-H"_s << u"Expect:"_s << u"-H"_s << u"Content-Type: application/json"_s;
        if (signedIn)
            args << u"-H"_s << bearer(token);
        const Answer a = curl(args, body);
        QCOMPARE(a.status, status);
        QCOMPARE(a.error(), error);
        if (status >= 400)
            QVERIFY(!a.json()["message"_L1].toString().isEmpty());
        const Answer list = get(u"api/saves"_s);
        QCOMPARE(list.status, 200);
        QCOMPARE(list.json()["saves"_L1].toArray().size(), status == 201 ? 1 : 0);
    }

    // Pages carry what the user typed, and the hand-off page the token and the state, decoded
    // once and escaped.
    void servesPages() {
        const Answer signedOut = curl({url(u"saves"_s)});
        QCOMPARE(signedOut.status, 303);
        QCOMPARE(signedOut.headers.value(QStringLiteral("location")), QStringLiteral("/signin"));

        QCOMPARE(saveLink(QStringLiteral("https://example.test/a?x=1&y=2")).status, 201);
        const QString cookie = QStringLiteral("authjs.session-token=") + token;
        const Answer saves = curl({QStringLiteral("-b"), cookie, url(QStringLiteral("saves"))});
        QCOMPARE(saves.status, 200);
        QVERIFY2(saves.body.contains("href=\"https://example.test/a?x=1&amp;y=2\">"),
                 saves.body.constData());

        const QString connect = url(u"connect/mac"_s) + u"?port=48123&state=ab%3C/script%3E%251"_s;
        QVERIFY(curl({connect}).body.contains(
            "value=\"/connect/mac?port=48123&amp;state=ab%3C/script%3E%251\""));
        const Answer handOff = curl({u"-b"_s, cookie, connect});
        QVERIFY(handOff.body.contains("http://127.0.0.1:48123/"));
        QVERIFY(handOff.body.contains(("\"token\":\"" + token + "\"").toUtf8()));
        QVERIFY(handOff.body.contains("\"state\":\"ab\\u003c/script\\u003e%1\""));
        QCOMPARE(curl({u"-b"_s, cookie, url(QString()) + u"connect/mac?state=s"_s}).status, 400);
    }

    void publishesReleases() {
        QTemporaryDir releases;
        const auto write = [&](const QString& name, const QByteArray& bytes) {
            QVERIFY(writeFile(releases.filePath(name), bytes));
        };
        write(u"1.9.json"_s, "{\"version\":\"1.9\",\"url\":\"releases/old.zip\"}");
        write(u"1.10.json"_s, "{\"version\":\"1.10\",\"url\":\"releases/new.zip\"}");
        write(u"broken.json"_s, "{\"version\":");
        write(u"new.zip"_s, "PK-new");
        service = std::make_unique<DevService>(QStringList{u"--releases"_s, releases.path()});
        QCOMPARE(curl({url(u"api/mac/version"_s)}).json()["version"_L1].toString(), u"1.10"_s);
        QCOMPARE(curl({url(u"releases/new.zip"_s)}).body, QByteArray("PK-new"));
        QCOMPARE(curl({url(u"releases/old.zip"_s)}).status, 404);
        QCOMPARE(curl({u"--path-as-is"_s, url(u"releases/../1.9.json"_s)}).status, 404);
        QVERIFY(curl({url(u"download"_s)}).body.contains("href=\"/releases/new.zip\""));
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
        QCOMPARE(get(QStringLiteral("api/saves")).status, 200);
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
