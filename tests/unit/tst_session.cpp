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

    // The bearer joins, in name order, the chunks of the session cookie that go to the origin's
    // host: its own and its domain's, not a subdomain's, nor those of a domain that only ends in
    // the same letters or of one with two leading dots; names that only look alike are no part.
    void joinsChunksInNameOrder() {
        fakes.cookieStore->cookies = {
            cookie("authjs.session-token.1", "BBB", "example.test"),
            cookie("other", "zzz", "example.test"),
            cookie("authjs.session-token.0", "AAA", ".example.test"),
            cookie("authjs.session-token.1", "CCC", ".example.test"), // equal names: store order
        };
        for (const char* domain : {"other.test", "www.example.test", "xample.test", "..example.test"})
            fakes.cookieStore->cookies << cookie("authjs.session-token.2", "X", domain);
        for (const char* name : {"authjs.session-token.", "authjs.session-token.x",
                                 "__Host-authjs.session-token", "authjs.session-token.3x"})
            fakes.cookieStore->cookies << cookie(name, "X", "example.test");
        QCOMPARE(runTask(Session::bearer()), std::optional(u"AAABBBCCC"_s));
        fakes.cookieStore->cookies << cookie("authjs.session-token.3", "D", "example.test");
        QCOMPARE(runTask(Session::bearer()), std::optional(u"AAABBBCCCD"_s));
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
