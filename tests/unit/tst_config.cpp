#include "TestSupport.h"
#include "service/Config.h"

namespace pinlark {

class TestConfig : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { TestState::reset(); }

    // The override is taken when it starts with "http" and parses; production otherwise.
    void resolvesOrigin_data() {
        QTest::addColumn<QVariant>("override"); // invalid: absent
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, QVariant text, const char* expected) {
            QTest::newRow(name) << text << QString::fromUtf8(expected);
        };
        const char* production = "https://pinlark.app";
        row("absent", {}, production);
        row("kept as written", u"https://staging.example.test/"_s, "https://staging.example.test/");
        row("unparsable", u"http://exa mple.test"_s, production);
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
        const auto row = [](const char* name, const char* origin, const QString& path,
                            const QStringList& query, const char* expected) {
            QTest::newRow(name) << QString::fromUtf8(origin) << path << query
                                << QString::fromUtf8(expected);
        };
        row("origin with a path and a trailing slash", "http://127.0.0.1:8080/base/",
            u"api/saves"_s, {}, "http://127.0.0.1:8080/base/api/saves");
        row("characters a path may not hold", "https://p.app", u"api/saves/a b?c#d%e"_s, {},
            "https://p.app/api/saves/a%20b%3Fc%23d%25e");
        row("query items in the order given, encoded", "https://p.app", u"x"_s,
            {u"state=s1"_s, u"q=a&b c"_s, u"flag"_s}, "https://p.app/x?state=s1&q=a%26b%20c&flag");
    }
    void buildsEndpoints() {
        QFETCH(QString, origin);
        QFETCH(QString, path);
        QFETCH(QStringList, query);
        QFETCH(QString, expected);
        QList<QueryItem> items;
        for (const QString& q : query) {
            const auto eq = q.indexOf(u'=');
            items.append(eq < 0 ? QueryItem{q, std::nullopt}
                                : QueryItem{q.left(eq), q.mid(eq + 1)});
        }
        QCOMPARE(QString::fromLatin1(Config::appending(QUrl(origin), path, items).toEncoded()),
                 expected);
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestConfig)
#include "tst_config.moc"
