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

    void recognisesSessionCookieNames() {
        QStringList session;
        for (const QString name :
             {"authjs.session-token", "authjs.session-token.3", "authjs.session-token.",
              "authjs.session-token.x", "__Host-authjs.session-token"})
            if (Session::isSessionCookie(name))
                session << name;
        QCOMPARE(session, (QStringList{"authjs.session-token", "authjs.session-token.3"}));
    }

    // Cookie domain against host, one digit each: host-only, a subdomain's cookie, the suffix
    // rule, the same letters without the dot, only one leading dot removed.
    void matchesDomains() {
        const std::pair<const char*, const char*> cases[] = {{"example.test", "example.test"},
                                                             {"www.example.test", "example.test"},
                                                             {".example.test", "www.example.test"},
                                                             {"example.test", "badexample.test"},
                                                             {"..example.test", "example.test"}};
        QString matches;
        for (const auto& [domain, host] : cases)
            matches +=
                Session::domainMatches(QString::fromLatin1(domain), QString::fromLatin1(host))
                    ? u'1'
                    : u'0';
        QCOMPARE(matches, u"10100"_s);
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
