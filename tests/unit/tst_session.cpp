#include "TestSupport.h"
#include "session/Session.h"

namespace pinlark {

namespace {
QNetworkCookie cookie(const char* name, const char* value, const char* domain) {
    QNetworkCookie c(name, value);
    c.setDomain(QString::fromLatin1(domain));
    c.setPath(u"/"_s);
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
        fakes.defaults->set(u"origin"_s, "https://example.test");
    }

    void recognisesSessionCookieNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("session");
        QTest::newRow("plain") << u"authjs.session-token"_s << true;
        QTest::newRow("chunk") << u"authjs.session-token.3"_s << true;
        QTest::newRow("lone dot") << u"authjs.session-token."_s << false;
        QTest::newRow("letter chunk") << u"authjs.session-token.x"_s << false;
        QTest::newRow("host prefix") << u"__Host-authjs.session-token"_s << false;
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
        QTest::newRow("host-only") << u"example.test"_s << u"example.test"_s << true;
        QTest::newRow("subdomain cookie") << u"www.example.test"_s << u"example.test"_s << false;
        QTest::newRow("suffix rule") << u".example.test"_s << u"www.example.test"_s << true;
        QTest::newRow("same letters, no dot") << u"example.test"_s << u"badexample.test"_s << false;
        QTest::newRow("only one dot removed") << u"..example.test"_s << u"example.test"_s << false;
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
            cookie("authjs.session-token.1", "CCC", ".example.test"), // equal names: store order
            cookie("authjs.session-token.2", "XXX", "other.test"),    // never sent to the origin
        };
        QCOMPARE(runTask(Session::bearer()), std::optional(u"AAABBBCCC"_s));
    }

    void signOutDeletesSessionCookiesOfEveryDomain() {
        fakes.cookieStore->cookies = {
            cookie("authjs.session-token.0", "A", "example.test"),
            cookie("theme", "dark", "example.test"),
            cookie("__Secure-authjs.session-token", "B", "elsewhere.test"),
            cookie("authjs.session-token.1", "C", "example.test"),
        };
        runTask(Session::signOut());
        QStringList deleted;
        for (const QNetworkCookie& c : fakes.cookieStore->deleted)
            deleted << QString::fromUtf8(c.value()) + u'@' + c.domain();
        QCOMPARE(deleted, QStringList({"A@example.test", "B@elsewhere.test", "C@example.test"}));
        QCOMPARE(fakes.cookieStore->cookies.value(0).name(), QByteArray("theme"));
        QCOMPARE(runTask(Session::bearer()), std::nullopt);
    }

    void completionsCalledTwiceResumeOnce() {
        fakes.cookieStore->duplicateCompletions = true;
        fakes.cookieStore->cookies = {cookie("authjs.session-token", "T", "example.test"),
                                      cookie("authjs.session-token.1", "U", "example.test")};
        QCOMPARE(runTask(Session::bearer()), std::optional(u"TU"_s));
        runTask(Session::signOut());
        QCOMPARE(fakes.cookieStore->deleted.size(), 2);
        QVERIFY(fakes.cookieStore->cookies.isEmpty());
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestSession)
#include "tst_session.moc"
