#include "TestSupport.h"
#include "platform/fake/FakePlatform.h"
#include "service/Config.h"

#include <QTest>

namespace pinlark {

class TestConfig : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { TestState::reset(); }

    void resolvesOrigin_data() {
        QTest::addColumn<QVariant>("override");
        QTest::addColumn<QString>("expected");
        const QString production = QStringLiteral("https://pinlark.app");
        QTest::newRow("absent") << QVariant() << production;
        QTest::newRow("local http with port") << QVariant(QStringLiteral("http://localhost:3000"))
                                              << QStringLiteral("http://localhost:3000");
        QTest::newRow("https kept as written, trailing slash too")
            << QVariant(QStringLiteral("https://staging.example.test/"))
            << QStringLiteral("https://staging.example.test/");
        QTest::newRow("ftp") << QVariant(QStringLiteral("ftp://example.test")) << production;
        QTest::newRow("host and port parse as scheme localhost")
            << QVariant(QStringLiteral("localhost:3000")) << production;
        QTest::newRow("empty") << QVariant(QString()) << production;
        QTest::newRow("no scheme") << QVariant(QStringLiteral("//example.test")) << production;
        QTest::newRow("upper-case scheme fails the prefix test")
            << QVariant(QStringLiteral("HTTP://example.test")) << production;
        QTest::newRow("httpx passes the prefix test")
            << QVariant(QStringLiteral("httpx://example.test"))
            << QStringLiteral("httpx://example.test");
        QTest::newRow("unparsable")
            << QVariant(QStringLiteral("http://exa mple.test")) << production;
    }
    void resolvesOrigin() {
        QFETCH(QVariant, override);
        QFETCH(QString, expected);
        const auto text = override.isValid() ? std::optional(override.toString()) : std::nullopt;
        QCOMPARE(Config::resolveOrigin(text).toString(), expected);
    }

    void buildsEndpoints_data() {
        QTest::addColumn<QString>("origin");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("query"); // "name=value", or "name" for no value
        QTest::addColumn<QString>("expected");
        QTest::newRow("production, no query")
            << QStringLiteral("https://pinlark.app") << QStringLiteral("api/saves") << QStringList()
            << QStringLiteral("https://pinlark.app/api/saves");
        QTest::newRow("local server")
            << QStringLiteral("http://localhost:3000") << QStringLiteral("api/saves")
            << QStringList() << QStringLiteral("http://localhost:3000/api/saves");
        QTest::newRow("origin with a path")
            << QStringLiteral("http://127.0.0.1:8080/base") << QStringLiteral("api/saves")
            << QStringList() << QStringLiteral("http://127.0.0.1:8080/base/api/saves");
        QTest::newRow("origin with a trailing slash")
            << QStringLiteral("http://127.0.0.1:8080/base/") << QStringLiteral("api/saves")
            << QStringList() << QStringLiteral("http://127.0.0.1:8080/base/api/saves");
        QTest::newRow("leading slash gives one slash")
            << QStringLiteral("https://pinlark.app") << QStringLiteral("/download") << QStringList()
            << QStringLiteral("https://pinlark.app/download");
        QTest::newRow("id as last segment")
            << QStringLiteral("https://pinlark.app") << QStringLiteral("api/saves/abc123")
            << QStringList() << QStringLiteral("https://pinlark.app/api/saves/abc123");
        QTest::newRow("characters a path may not hold")
            << QStringLiteral("https://pinlark.app") << QStringLiteral("api/saves/a b?c#d%e")
            << QStringList() << QStringLiteral("https://pinlark.app/api/saves/a%20b%3Fc%23d%25e");
        QTest::newRow("non-ASCII is encoded as UTF-8")
            << QStringLiteral("https://pinlark.app") << QStringLiteral("api/saves/é")
            << QStringList() << QStringLiteral("https://pinlark.app/api/saves/%C3%A9");
        QTest::newRow("one query item")
            << QStringLiteral("https://pinlark.app") << QStringLiteral("api/saves")
            << QStringList{QStringLiteral("limit=5")}
            << QStringLiteral("https://pinlark.app/api/saves?limit=5");
        QTest::newRow("query items in the order given")
            << QStringLiteral("https://pinlark.app") << QStringLiteral("connect/mac")
            << QStringList{QStringLiteral("state=s1"), QStringLiteral("port=4000"),
                           QStringLiteral("flag")}
            << QStringLiteral("https://pinlark.app/connect/mac?state=s1&port=4000&flag");
        QTest::newRow("query values are encoded")
            << QStringLiteral("https://pinlark.app") << QStringLiteral("x")
            << QStringList{QStringLiteral("q=a&b c")}
            << QStringLiteral("https://pinlark.app/x?q=a%26b%20c");
    }
    void buildsEndpoints() {
        QFETCH(QString, origin);
        QFETCH(QString, path);
        QFETCH(QStringList, query);
        QFETCH(QString, expected);
        QList<QueryItem> items;
        for (const QString& q : query) {
            const auto eq = q.indexOf(QLatin1Char('='));
            items.append(eq < 0 ? QueryItem{q, std::nullopt}
                                : QueryItem{q.left(eq), q.mid(eq + 1)});
        }
        const QUrl url = Config::appending(QUrl(origin), path, items);
        QCOMPARE(QString::fromLatin1(url.toEncoded()), expected);
        QVERIFY(!url.toEncoded().endsWith('?'));
    }

    void originIsReadOncePerProcess() {
        auto fakes = FakePlatform::install();
        fakes.defaults->set(QStringLiteral("origin"), "http://127.0.0.1:9000");
        QCOMPARE(Config::origin(), QUrl(QStringLiteral("http://127.0.0.1:9000")));
        fakes.defaults->set(QStringLiteral("origin"), "http://127.0.0.1:9999");
        QCOMPARE(Config::origin(), QUrl(QStringLiteral("http://127.0.0.1:9000")));
        QCOMPARE(Config::api(QStringLiteral("api/saves")).toString(),
                 QStringLiteral("http://127.0.0.1:9000/api/saves"));
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestConfig)
#include "tst_config.moc"
