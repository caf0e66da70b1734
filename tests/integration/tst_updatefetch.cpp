#include "DevService.h"
#include "PagePeer.h"
#include "TestSupport.h"
#include "service/APIError.h"
#include "service/DecodingError.h"
#include "update/Updater.h"

#include <QJsonObject>
#include <QTemporaryDir>

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
    }
    void fromTheStandIn() {
        QFETCH(QByteArray, published);
        QFETCH(QString, expected);
        QTemporaryDir releases;
        if (!published.isEmpty())
            QVERIFY(writeFile(releases.filePath(QStringLiteral("2.0.json")), published));
        DevService service({QStringLiteral("--releases"), releases.path()});
        QVERIFY(service.isRunning());
        fakes.defaults->set(QStringLiteral("origin"), service.origin().toString());
        QCOMPARE(outcome(), expected);
        // One plain GET, without a session.
        const QJsonObject request = service.requests().at(0).toObject();
        QCOMPARE(request.value("path").toString() + request.value("query").toString(),
                 QStringLiteral("/api/mac/version"));
        QCOMPARE(service.requests().size(), 1);
        QVERIFY(!request.value("headers").toObject().contains("authorization"));
    }

    void fromOtherAnswers_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("expected");
        const QByteArray json("application/json");
        QTest::newRow("204 empty") << QByteArray("HTTP/1.1 204 No Content\r\n\r\n") << "decoding";
        QTest::newRow("too large")
            << httpAnswer("200 OK", json,
                          "{\"version\":\"2\",\"x\":\"" + QByteArray(100000, 'x') + "\"}")
            << "decoding";
        QTest::newRow("silent") << QByteArray() << "platform: The request timed out.";
        QTest::newRow("closed early")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 40\r\n\r\n{\"vers") << "platform: ";
    }
    void fromOtherAnswers() {
        QFETCH(QByteArray, answer);
        QFETCH(QString, expected);
        PagePeer peer;
        peer.fallback = answer;
        fakes.defaults->set(QStringLiteral("origin"), peer.url().toString());
        Updater::s_fetchTimeout = 300ms;
        const QString got = outcome();
        QVERIFY2(got.startsWith(expected), qPrintable(got));
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestUpdateFetch)
#include "tst_updatefetch.moc"
