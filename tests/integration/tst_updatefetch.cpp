#include "DevService.h"
#include "RawPeer.h"
#include "TestSupport.h"
#include "platform/fake/FakePlatform.h"
#include "service/APIError.h"
#include "service/DecodingError.h"
#include "update/Updater.h"

#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

namespace pinlark {

class TestUpdateFetch : public QObject {
    Q_OBJECT

    FakePlatform fakes;

    // What a fetch ended with: the manifest's fields, "offline: <message>", "decoding" or
    // "platform: <description>".
    QString outcome() {
        try {
            const Manifest m = runTask(Updater::fetch());
            return QStringList{m.version, m.url.value_or("-"), m.page.value_or("-"),
                               m.sha256.value_or("-")}
                .join(QLatin1Char('|'));
        } catch (const APIError& e) {
            return e.code() + QStringLiteral(": ") + e.message();
        } catch (const DecodingError&) {
            return QStringLiteral("decoding");
        } catch (const PlatformError& e) {
            return QStringLiteral("platform: ") + e.localizedDescription();
        }
    }

private Q_SLOTS:
    void init() {
        TestState::reset();
        fakes = FakePlatform::install();
    }

    void fromTheStandIn_data() {
        QTest::addColumn<QByteArray>("published"); // the manifest file; empty for none
        QTest::addColumn<QString>("expected");
        QTest::newRow("manifest") << QByteArray(R"({"version":"2.0","url":"/releases/P.zip"})")
                                  << "2.0|/releases/P.zip|-|-";
        QTest::newRow("nothing published (404)")
            << QByteArray() << "offline: Can't reach Pinlark. Check your connection.";
        QTest::newRow("member of the wrong type")
            << QByteArray(R"({"version":"2.0","url":7})") << "decoding";
    }
    void fromTheStandIn() {
        QFETCH(QByteArray, published);
        QFETCH(QString, expected);
        QTemporaryDir releases;
        if (!published.isEmpty()) {
            QFile file(releases.filePath(QStringLiteral("2.0.json")));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(published);
        }
        DevService service({QStringLiteral("--releases"), releases.path()});
        QVERIFY(service.isRunning());
        fakes.defaults->set(QStringLiteral("origin"), service.origin().toString());
        QCOMPARE(outcome(), expected);
        // One plain GET, without a session.
        const QJsonArray requests = service.requests();
        QCOMPARE(requests.size(), 1);
        const QJsonObject request = requests.first().toObject();
        QCOMPARE(request.value("path").toString(), QStringLiteral("/api/mac/version"));
        QCOMPARE(request.value("query").toString(), QString());
        QVERIFY(!request.value("headers").toObject().contains("authorization"));
    }

    void fromOtherAnswers_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("expected");
        const QString offline =
            QStringLiteral("offline: Can't reach Pinlark. Check your connection.");
        QTest::newRow("500") << RawPeer::http("500 Internal Server Error", "{}") << offline;
        QTest::newRow("204 empty") << QByteArray("HTTP/1.1 204 No Content\r\n\r\n") << "decoding";
        QTest::newRow("malformed") << RawPeer::http("200 OK", "{\"version\":") << "decoding";
        QTest::newRow("too large") << RawPeer::http("200 OK", "{\"version\":\"2\",\"x\":\"" +
                                                                  QByteArray(100000, 'x') + "\"}")
                                   << "decoding";
        QTest::newRow("silent") << QByteArray() << "platform: The request timed out.";
        QTest::newRow("closed early") << RawPeer::http("200 OK", "{\"vers", 40) << "platform: ";
    }
    void fromOtherAnswers() {
        QFETCH(QByteArray, answer);
        QFETCH(QString, expected);
        RawPeer peer(answer);
        fakes.defaults->set(QStringLiteral("origin"), peer.origin().toString());
        Updater::s_fetchTimeout = 300ms;
        const QString got = outcome();
        QVERIFY2(got.startsWith(expected), qPrintable(got));
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestUpdateFetch)
#include "tst_updatefetch.moc"
