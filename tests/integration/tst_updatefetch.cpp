#include "DevService.h"
#include "PagePeer.h"
#include "TestSupport.h"
#include "service/APIError.h"
#include "service/DecodingError.h"
#include "update/Updater.h"

using namespace std::chrono_literals;

namespace pinlark {

class TestUpdateFetch : public QObject {
    Q_OBJECT

    FakePlatform fakes;

    // What a fetch ended with: the manifest's fields, "<code>: <message>" of an APIError,
    // "decoding" or "platform: <description>".
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

    void fetch_data() {
        QTest::addColumn<QByteArray>("answer"); // of a page peer; null: the stand-in's manifest
        QTest::addColumn<QString>("expected");
        const QByteArray json("application/json");
        QTest::newRow("from the stand-in") << QByteArray() << "2.0|/releases/P.zip|-|-";
        // Every member is read, unknown ones are ignored; the version is required.
        QTest::newRow("every member")
            << httpAnswer("200 OK", json,
                          R"({"version":"1.4.2","url":"/a.zip","page":"/d","sha256":"ab","x":[1]})")
            << "1.4.2|/a.zip|/d|ab";
        QTest::newRow("no version") << httpAnswer("200 OK", json, R"({"url":"/a.zip"})")
                                    << "decoding";
        QTest::newRow("not found") << httpAnswer("404 Not Found", {}, {})
                                   << "offline: Can't reach Pinlark. Check your connection.";
        QTest::newRow("204 empty") << QByteArray("HTTP/1.1 204 No Content\r\n\r\n") << "decoding";
        QTest::newRow("too large")
            << httpAnswer("200 OK", json,
                          "{\"version\":\"2\",\"x\":\"" + QByteArray(100000, 'x') + "\"}")
            << "decoding";
        QTest::newRow("silent") << QByteArray("") << "platform: The request timed out.";
        QTest::newRow("closed early")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 40\r\n\r\n{\"vers")
            << "platform: Connection closed";
    }
    void fetch() {
        QFETCH(QByteArray, answer);
        QFETCH(QString, expected);
        PagePeer peer;
        peer.fallback = answer;
        QTemporaryDir releases;
        std::unique_ptr<DevService> service;
        if (answer.isNull()) {
            QVERIFY(writeFile(releases.filePath(u"2.0.json"_s),
                              R"({"version":"2.0","url":"/releases/P.zip"})"));
            service = std::make_unique<DevService>(QStringList{u"--releases"_s, releases.path()});
        }
        fakes.defaults->set(u"origin"_s, (service ? service->origin() : peer.url()).toString());
        Updater::s_fetchTimeout = 300ms;
        QCOMPARE(outcome(), expected);
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestUpdateFetch)
#include "tst_updatefetch.moc"
