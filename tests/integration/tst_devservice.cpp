#include "Curl.h"
#include "DevService.h"
#include "TestSupport.h"

#include <QJsonArray>

using namespace pinlark;

class TestDevService : public QObject {
    Q_OBJECT

    std::unique_ptr<DevService> service;
    QString token;

    QString url(const QString& path) const { return service->url(path).toString(); }

private Q_SLOTS:
    void init() {
        service = std::make_unique<DevService>();
        QVERIFY(service->isRunning());
        token = service->signIn();
        QCOMPARE(token.size(), 43);
    }
    void cleanup() { service.reset(); }

    // What the client meets only when something is wrong: the status and error code, how many
    // requests were recorded and how many saves are stored afterwards. Requests whose size the
    // service can't bound before reading them are refused unread and unrecorded.
    void refusesBadRequests_data() {
        QTest::addColumn<QStringList>("arguments"); // to curl; the last one a path
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("answer");
        const QStringList post =
            u"-H|Authorization: Bearer {token}|-H|Content-Type: "
            "application/json|-H|Expect:|--data-binary|@-|api/saves"_s.split(u'|');
        const auto save = [&](const char* name, const QByteArray& body, const QString& answer) {
            QTest::newRow(name) << post << body << answer;
        };
        save("not JSON", "{\"url\":", u"400 bad_json, 1 recorded, 0 stored"_s);
        save("ftp", "{\"url\":\"ftp://example.test/a\"}", u"400 bad_url, 1 recorded, 0 stored"_s);
        QByteArray big(64 * 1024 + 1, ' ');
        big.replace(0, 31, "{\"url\":\"https://example.test/\"}");
        save("over 64 KiB", big, u"413 too_large, 0 recorded, 0 stored"_s);
        save("exactly 64 KiB", big.left(64 * 1024), u"201 , 1 recorded, 1 stored"_s);
        QTest::newRow("unknown API path signed out")
            << QStringList{"-X", "POST", "-d", "{}", "api/other"} << QByteArray()
            << u"401 unauthenticated, 1 recorded, 0 stored"_s;
        QTest::newRow("chunked") << QStringList{"-H", "Transfer-Encoding: chunked", "--data-binary",
                                                "{}", "api/saves"}
                                 << QByteArray() << u"413 too_large, 0 recorded, 0 stored"_s;
        QTest::newRow("a body without a length")
            << QStringList{"-X", "POST", "api/saves"} << QByteArray()
            << u"411 length_required, 0 recorded, 0 stored"_s;
        QStringList bigHead;
        for (int i = 0; i < 12; ++i)
            bigHead << u"-H"_s << u"X-Filler-%1: %2"_s.arg(i).arg(QString(8000, u'x'));
        QTest::newRow("a head over 64 KiB") << bigHead + QStringList{"api/saves"} << QByteArray()
                                            << u"400 bad_request, 0 recorded, 0 stored"_s;
    }
    void refusesBadRequests() {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, body);
        QFETCH(QString, answer);
        arguments.replaceInStrings(u"{token}"_s, token);
        arguments.last() = url(arguments.last());
        service->clearRequests();
        const CurlAnswer a = curl(arguments, body);
        const qsizetype recorded = service->requests().size();
        const CurlAnswer list =
            curl({u"-H"_s, u"Authorization: Bearer "_s + token, url(u"api/saves"_s)});
        QCOMPARE(list.status, 200);
        QCOMPARE(u"%1 %2, %3 recorded, %4 stored"_s.arg(a.status).arg(a.error()).arg(recorded).arg(
                     list.json()["saves"_L1].toArray().size()),
                 answer);
        QVERIFY(a.status < 400 || !a.json()["message"_L1].toString().isEmpty());
    }

    // What the service records, sessions included, is for the machine it runs on only.
    void servesDevRoutesOnLoopbackOnly() {
        service = std::make_unique<DevService>(QStringList{u"--host"_s, u"0.0.0.0"_s});
        QVERIFY(service->isRunning());
        QCOMPARE(curl({url(u"signin"_s)}).status, 200);
        const CurlAnswer log = curl({url(u"dev/requests"_s)});
        QCOMPARE(log.status, 404);
        QVERIFY(!log.body.contains("signin"));
    }
};

QTEST_GUILESS_MAIN(TestDevService)
#include "tst_devservice.moc"
