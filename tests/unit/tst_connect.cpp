#include "platform/fake/FakePlatform.h"
#include "session/Connect.h"
#include "support/TestSupport.h"

#include <QTest>

namespace pinlark {

class TestConnect : public QObject {
  Q_OBJECT

  FakePlatform fakes;

private Q_SLOTS:
  void init() {
    TestState::reset();
    fakes = FakePlatform::install();
    fakes.defaults->set(QStringLiteral("origin"), "https://pinlark.example/");
  }

  void makesTheSessionCookie_data() {
    QTest::addColumn<QString>("originURL");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("token");
    QTest::addColumn<bool>("secure");
    QTest::addColumn<QString>("domain"); // empty: refused
    const auto row = [](const char *tag, const char *o, const char *name,
                        const char *token, bool secure, const char *domain) {
      QTest::newRow(tag) << QString::fromUtf8(o) << QString::fromUtf8(name)
                         << QString::fromUtf8(token) << secure
                         << QString::fromUtf8(domain);
    };
    row("www. host", "https://www.service.example",
        "__Secure-authjs.session-token", "t", true, ".service.example");
    row("plain host", "https://service.example", "authjs.session-token", "t",
        true, ".service.example");
    row("localhost with a port", "http://localhost:3000",
        "authjs.session-token", "t", false, "localhost");
    row("host beginning with localhost", "http://localhost.test", "n", "t",
        false, "localhost.test");
    row("host without a dot", "http://intranet", "n", "t", true, "intranet");
    row("quoted value", "https://a.example", "n", "\"t\"", true, ".a.example");
    row("empty value", "https://a.example", "n", "", true, ".a.example");
    row("empty name", "https://a.example", "", "t", true, "");
    for (const char *bad : {"a b", "a;b", "a,b", "a\"b", "a=b", "a\tb",
                            "a\x01"
                            "b"}) {
      row(("name " + QByteArray(bad).toPercentEncoding()).constData(),
          "https://a.example", bad, "t", true, "");
    }
    for (const char *bad : {"a b", "a;b", "a,b", "a\"b", "\"ab", "a\nb",
                            "a\x7f"
                            "b"}) {
      row(("value " + QByteArray(bad).toPercentEncoding()).constData(),
          "https://a.example", "n", bad, true, "");
    }
  }

  void makesTheSessionCookie() {
    QFETCH(QString, originURL);
    QFETCH(QString, name);
    QFETCH(QString, token);
    QFETCH(bool, secure);
    QFETCH(QString, domain);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const auto cookie = Connect::sessionCookie(token, name, secure,
                                               QUrl(originURL).host(), now);
    QCOMPARE(cookie.has_value(), !domain.isEmpty());
    if (!cookie)
      return;
    QCOMPARE(cookie->name(), name.toUtf8());
    QCOMPARE(cookie->value(), token.toUtf8());
    QCOMPARE(cookie->domain(), domain);
    QCOMPARE(cookie->path(), QStringLiteral("/"));
    QCOMPARE(cookie->isSecure(), secure);
    QVERIFY(cookie->isHttpOnly());
    QCOMPARE(cookie->expirationDate(), now.addDays(30));
  }

  void refusedCookieLeavesStoreAndWindowAlone() {
    runTask(Connect::adopt(u"t"_qs, u"bad name"_qs, true));
    QVERIFY(fakes.cookieStore->cookies.isEmpty());
    QCOMPARE(fakes.activationPolicy->activations, 0);
    const Alert expected{u"Couldn't save the sign-in"_qs,
                         u"The session couldn't be stored. Try again."_qs,
                         {u"OK"_qs}};
    QCOMPARE(fakes.alerts->shown, QList{expected});
  }
};

} // namespace pinlark

QTEST_MAIN(pinlark::TestConnect)
#include "tst_connect.moc"
