#include "Curl.h"
#include "DevService.h"
#include "TestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace pinlark {

using Answer = CurlAnswer;

class TestDevService : public QObject {
    Q_OBJECT

    std::unique_ptr<DevService> service;
    QString token;

    QString url(const QString& path) const { return service->url(path).toString(); }
    QString bearer(const QString& t) const { return u"Authorization: Bearer "_s + t; }

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
        save("ftp", "{\"url\":\"ftp://example.test/a\"}", 400, u"bad_url"_s);
        QByteArray big(64 * 1024 + 1, ' ');
        big.replace(0, 31, "{\"url\":\"https://example.test/\"}");
        save("over 64 KiB", big, 413, u"too_large"_s);
        save("exactly 64 KiB", big.left(64 * 1024), 201, QString());
        QTest::newRow("unknown API path signed out")
            << u"GET api/other"_s << false << QByteArray("{}") << 401 << u"unauthenticated"_s;
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
        QCOMPARE(QString::number(a.status) + u' ' + a.error(),
                 QString::number(status) + u' ' + error);
        if (status >= 400)
            QVERIFY(!a.json()["message"_L1].toString().isEmpty());
        const Answer list = get(u"api/saves"_s);
        QCOMPARE(list.status, 200);
        QCOMPARE(list.json()["saves"_L1].toArray().size(), status == 201 ? 1 : 0);
    }

    // Requests whose size the service can't bound before reading them are refused unread and
    // unrecorded, and it goes on serving.
    void refusesUnboundedRequests_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("answer");
        QTest::newRow("chunked") << QStringList{"-H", "Transfer-Encoding: chunked", "--data-binary",
                                                "{}"}
                                 << u"413 too_large"_s;
        QTest::newRow("a body without a length")
            << QStringList{"-X", "POST"} << u"411 length_required"_s;
        QStringList bigHead;
        for (int i = 0; i < 12; ++i)
            bigHead << u"-H"_s << u"X-Filler-%1: %2"_s.arg(i).arg(QString(8000, u'x'));
        QTest::newRow("a head over 64 KiB") << bigHead << u"400 bad_request"_s;
    }
    void refusesUnboundedRequests() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, answer);
        service->clearRequests();
        const Answer a = curl(arguments << url(u"api/saves"_s));
        QCOMPARE(QString::number(a.status) + u' ' + a.error(), answer);
        QCOMPARE(service->requests(), QJsonArray());
        QCOMPARE(get(u"api/saves"_s).status, 200);
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
