#include "TestSupport.h"
#include "platform/fake/FakePlatform.h"
#include "session/Session.h"

#include <QTest>

namespace pinlark {

namespace {
QNetworkCookie cookie(const char* name, const char* value, const char* domain) {
    QNetworkCookie c(name, value);
    c.setDomain(QString::fromLatin1(domain));
    c.setPath(QStringLiteral("/"));
    return c;
}
} // namespace

class TestSession : public QObject {
    Q_OBJECT

    FakePlatform fakes;

private Q_SLOTS:
    void init() {
        TestState::reset();
        fakes = FakePlatform::install();
        fakes.defaults->set(QStringLiteral("origin"), "https://example.test");
    }

    void recognisesSessionCookieNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("session");
        QTest::newRow("plain") << QStringLiteral("authjs.session-token") << true;
        QTest::newRow("secure prefix") << QStringLiteral("__Secure-authjs.session-token") << true;
        QTest::newRow("chunk") << QStringLiteral("authjs.session-token.3") << true;
        QTest::newRow("secure chunk") << QStringLiteral("__Secure-authjs.session-token.10") << true;
        QTest::newRow("non-ASCII digit") << QStringLiteral("authjs.session-token.\u0663") << true;
        QTest::newRow("lone dot") << QStringLiteral("authjs.session-token.") << false;
        QTest::newRow("letter chunk") << QStringLiteral("authjs.session-token.x") << false;
        QTest::newRow("mixed chunk") << QStringLiteral("authjs.session-token.1a") << false;
        QTest::newRow("trailing letter") << QStringLiteral("authjs.session-tokens") << false;
        QTest::newRow("host prefix") << QStringLiteral("__Host-authjs.session-token") << false;
        QTest::newRow("capital") << QStringLiteral("Authjs.session-token") << false;
        QTest::newRow("prefix twice")
            << QStringLiteral("__Secure-__Secure-authjs.session-token") << false;
        QTest::newRow("other cookie") << QStringLiteral("authjs.csrf-token") << false;
        QTest::newRow("empty") << QString() << false;
    }
    void recognisesSessionCookieNames() {
        QFETCH(QString, name);
        QFETCH(bool, session);
        QCOMPARE(Session::isSessionCookie(name), session);
    }

    void matchesDomains_data() {
        QTest::addColumn<QString>("domain");
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("matches");
        QTest::newRow("host-only") << "example.test"
                                   << "example.test" << true;
        QTest::newRow("domain cookie") << ".example.test"
                                       << "example.test" << true;
        QTest::newRow("subdomain cookie") << "www.example.test"
                                          << "example.test" << false;
        QTest::newRow("suffix rule") << ".example.test"
                                     << "www.example.test" << true;
        QTest::newRow("suffix rule, host-only form") << "example.test"
                                                     << "www.example.test" << true;
        QTest::newRow("same letters, no dot") << "example.test"
                                              << "badexample.test" << false;
        QTest::newRow("case-sensitive") << "Example.test"
                                        << "example.test" << false;
        QTest::newRow("only one dot removed") << "..example.test"
                                              << "example.test" << false;
        QTest::newRow("empty host") << ".example.test"
                                    << "" << false;
    }
    void matchesDomains() {
        QFETCH(QString, domain);
        QFETCH(QString, host);
        QFETCH(bool, matches);
        QCOMPARE(Session::domainMatches(domain, host), matches);
    }

    void joinsChunksInNameOrder() {
        fakes.cookieStore->cookies = {
            cookie("authjs.session-token.1", "BBB", "example.test"),
            cookie("other", "zzz", "example.test"),
            cookie("authjs.session-token.0", "AAA", ".example.test"),
        };
        QCOMPARE(runTask(Session::bearer()), std::optional(QStringLiteral("AAABBB")));
    }

    void equalNamesKeepTheStoreOrder() {
        fakes.cookieStore->cookies = {
            cookie("authjs.session-token", "first", "example.test"),
            cookie("authjs.session-token", "second", ".example.test"),
        };
        QCOMPARE(runTask(Session::bearer()), std::optional(QStringLiteral("firstsecond")));
    }

    void noTokenWithoutMatchingSessionCookie_data() {
        QTest::addColumn<QList<QNetworkCookie>>("cookies");
        QTest::newRow("empty store") << QList<QNetworkCookie>{};
        QTest::newRow("other names") << QList<QNetworkCookie>{cookie("sid", "1", "example.test")};
        QTest::newRow("other domain")
            << QList<QNetworkCookie>{cookie("authjs.session-token", "1", "other.test")};
    }
    void noTokenWithoutMatchingSessionCookie() {
        QFETCH(QList<QNetworkCookie>, cookies);
        fakes.cookieStore->cookies = cookies;
        QCOMPARE(runTask(Session::bearer()), std::nullopt);
    }

    void signOutDeletesSessionCookiesOfEveryDomain() {
        fakes.cookieStore->cookies = {
            cookie("authjs.session-token.0", "A", "example.test"),
            cookie("theme", "dark", "example.test"),
            cookie("__Secure-authjs.session-token", "B", "elsewhere.test"),
            cookie("authjs.session-token.1", "C", "example.test"),
        };
        runTask(Session::signOut());
        QCOMPARE(fakes.cookieStore->deleted.size(), 3);
        QCOMPARE(fakes.cookieStore->deleted[0].value(), QByteArray("A"));
        QCOMPARE(fakes.cookieStore->deleted[1].domain(), QStringLiteral("elsewhere.test"));
        QCOMPARE(fakes.cookieStore->deleted[2].value(), QByteArray("C"));
        QCOMPARE(fakes.cookieStore->cookies.size(), 1);
        QCOMPARE(fakes.cookieStore->cookies[0].name(), QByteArray("theme"));
        QCOMPARE(runTask(Session::bearer()), std::nullopt);
    }

    void completionsCalledTwiceResumeOnce() {
        fakes.cookieStore->duplicateCompletions = true;
        fakes.cookieStore->cookies = {cookie("authjs.session-token", "T", "example.test"),
                                      cookie("authjs.session-token.1", "U", "example.test")};
        QCOMPARE(runTask(Session::bearer()), std::optional(QStringLiteral("TU")));
        runTask(Session::signOut());
        QCOMPARE(fakes.cookieStore->deleted.size(), 2);
        QVERIFY(fakes.cookieStore->cookies.isEmpty());
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestSession)
#include "tst_session.moc"
