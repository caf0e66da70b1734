#include "library/ErrorPage.h"
#include "library/NavigationPolicy.h"
#include "library/WindowFrame.h"
#include "platform/fake/FakePlatform.h"
#include "support/TestSupport.h"

#include <QTest>

using namespace pinlark;

using Decision = NavigationPolicy::Decision;
Q_DECLARE_METATYPE(Decision)

class TestLibrary : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() {
        TestState::reset();
        FakePlatform::install().defaults->set(QStringLiteral("origin"),
                                              "https://pinlark.example:8443/");
    }

    void policy_data() {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("mainFrame");
        QTest::addColumn<Decision>("expected");

        const int link = QWebEnginePage::NavigationTypeLinkClicked;
        const auto row = [](const char* name, const char* url, int type, Decision d,
                            bool mainFrame = true) {
            QTest::newRow(name) << QUrl(QString::fromUtf8(url)) << type << mainFrame << d;
        };
        row("no URL, link", "", link, Decision::Allow);
        row("origin host", "https://pinlark.example/saves/12", link, Decision::Allow);
        row("origin host, other port and scheme", "http://pinlark.example:80/x", link,
            Decision::Allow);
        row("origin host, upper case", "https://PINLARK.example/", link, Decision::Allow);
        row("subdomain of origin", "https://www.pinlark.example/", link, Decision::OpenInBrowser);
        row("google.com", "https://google.com/maps", link, Decision::Allow);
        row("subdomain of google.com", "https://maps.google.com/o/oauth2", link, Decision::Allow);
        const Decision handOff = Decision::HandOffToBrowserSignIn;
        row("identity provider", "https://accounts.google.com/o/oauth2", link, handOff);
        row("identity provider, subdomain, typed", "https://x.accounts.google.com/",
            QWebEnginePage::NavigationTypeTyped, handOff);
        row("identity provider, redirect", "https://accounts.youtube.com/",
            QWebEnginePage::NavigationTypeRedirect, handOff);
        row("identity provider, script load", "https://appleid.apple.com/auth",
            QWebEnginePage::NavigationTypeOther, handOff);
        row("identity provider in a frame", "https://accounts.google.com/", link, Decision::Allow,
            false);
        row("identity provider in a frame, outside", "https://appleid.apple.com/", link,
            Decision::OpenInBrowser, false);
        row("provider letters without a dot", "https://myaccounts.google.com/", link,
            Decision::Allow);
        row("provider letters, outside", "https://notappleid.apple.com/", link,
            Decision::OpenInBrowser);
        row("gstatic", "https://fonts.gstatic.com/s/a.woff2", link, Decision::Allow);
        row("googleusercontent", "https://lh3.googleusercontent.com/a", link, Decision::Allow);
        row("google lookalike", "https://notgoogle.com/", link, Decision::OpenInBrowser);
        row("google as a subdomain", "https://google.com.evil.example/", link,
            Decision::OpenInBrowser);
        row("outside link", "https://example.org/article", link, Decision::OpenInBrowser);
        row("outside link in a frame", "https://example.org/", link, Decision::OpenInBrowser,
            false);
        row("outside, typed", "https://example.org/", QWebEnginePage::NavigationTypeTyped,
            Decision::Allow);
        row("outside, form post", "https://example.org/",
            QWebEnginePage::NavigationTypeFormSubmitted, Decision::Allow);
        row("outside, back/forward", "https://example.org/",
            QWebEnginePage::NavigationTypeBackForward, Decision::Allow);
        row("outside, reload", "https://example.org/", QWebEnginePage::NavigationTypeReload,
            Decision::Allow);
        row("outside, script or frame load", "https://example.org/",
            QWebEnginePage::NavigationTypeOther, Decision::Allow, false);
        row("outside, redirect", "https://example.org/", QWebEnginePage::NavigationTypeRedirect,
            Decision::Allow);
        row("mail link", "mailto:someone@example.org", link, Decision::Allow);
        row("about:blank", "about:blank", link, Decision::Allow);
        row("data URL", "data:text/html,hi", QWebEnginePage::NavigationTypeTyped, Decision::Allow);
    }
    void policy() {
        QFETCH(QUrl, url);
        QFETCH(int, type);
        QFETCH(bool, mainFrame);
        QFETCH(Decision, expected);
        QCOMPARE(NavigationPolicy::decide(url, QWebEnginePage::NavigationType(type), mainFrame),
                 expected);
    }

    void newWindow_data() {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<Decision>("expected");
        QTest::newRow("identity provider")
            << QUrl(u"https://accounts.google.com/signin"_qs) << Decision::HandOffToBrowserSignIn;
        QTest::newRow("the origin's own page")
            << QUrl(u"https://pinlark.example/saves"_qs) << Decision::OpenInBrowser;
        QTest::newRow("outside") << QUrl(u"https://example.org/"_qs) << Decision::OpenInBrowser;
    }
    void newWindow() {
        QFETCH(QUrl, url);
        QFETCH(Decision, expected);
        QCOMPARE(NavigationPolicy::decideNewWindow(url), expected);
    }

    void hostMatches_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("domain");
        QTest::addColumn<bool>("expected");
        QTest::newRow("equal") << "gstatic.com"
                               << "gstatic.com" << true;
        QTest::newRow("subdomain") << "a.b.gstatic.com"
                                   << "gstatic.com" << true;
        QTest::newRow("same ending, no dot") << "xgstatic.com"
                                             << "gstatic.com" << false;
        QTest::newRow("only the dot") << ".gstatic.com"
                                      << "gstatic.com" << true;
        QTest::newRow("shorter") << "com"
                                 << "gstatic.com" << false;
        QTest::newRow("case-sensitive") << "GSTATIC.com"
                                        << "gstatic.com" << false;
        QTest::newRow("empty host") << ""
                                    << "gstatic.com" << false;
    }
    void hostMatches() {
        QFETCH(QString, host);
        QFETCH(QString, domain);
        QFETCH(bool, expected);
        QCOMPARE(NavigationPolicy::hostMatches(host, domain), expected);
    }

    void errorPage_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("inserted");
        QTest::newRow("connection refused") << -102 << "Connection refused"
                                            << "<p>Connection refused</p>";
        QTest::newRow("markup is escaped")
            << -105 << "<script>alert(1)</script> & \"x\""
            << "<p>&lt;script&gt;alert(1)&lt;/script&gt; &amp; &quot;x&quot;</p>";
        QTest::newRow("cancelled") << ErrorPage::abortedCode << "aborted" << QString();
    }
    void errorPage() {
        QFETCH(int, code);
        QFETCH(QString, description);
        QFETCH(QString, inserted);
        const auto html = ErrorPage::forFailure(code, description);
        QCOMPARE(html.has_value(), !inserted.isNull());
        if (!html)
            return;
        QVERIFY2(html->contains(inserted), qPrintable(*html));
        QVERIFY(!html->contains(QLatin1String("<script>")));
        QVERIFY(
            html->contains(QLatin1String("<meta name=\"color-scheme\" content=\"light dark\">")));
        QVERIFY(html->contains(QLatin1String("<h1>Can&rsquo;t reach Pinlark</h1>")));
        QVERIFY(html->endsWith(
            QLatin1String("<p>Close this window and open it again to retry.</p></body></html>")));
        QVERIFY(!html->contains(QLatin1String("<title")));
    }

    void initialFrame_data() {
        QTest::addColumn<std::optional<QString>>("saved");
        QTest::addColumn<QRect>("expected");
        const QRect centred(QPoint(1920 / 2 - 560, 1080 / 2 - 390), QSize(1120, 780));
        QTest::newRow("nothing saved") << std::optional<QString>() << centred;
        QTest::newRow("saved on screen")
            << std::optional<QString>(QStringLiteral("100 50 900 600")) << QRect(100, 50, 900, 600);
        QTest::newRow("saved on the second screen")
            << std::optional<QString>(QStringLiteral("2000 100 800 500"))
            << QRect(2000, 100, 800, 500);
        QTest::newRow("partly off screen")
            << std::optional<QString>(QStringLiteral("-300 -20 900 600"))
            << QRect(-300, -20, 900, 600);
        QTest::newRow("off every screen")
            << std::optional<QString>(QStringLiteral("5000 100 800 500")) << centred;
        QTest::newRow("below the minimum is grown")
            << std::optional<QString>(QStringLiteral("10 10 100 100")) << QRect(10, 10, 580, 460);
        QTest::newRow("garbage") << std::optional<QString>(QStringLiteral("10 10 wide 100"))
                                 << centred;
        QTest::newRow("zero size")
            << std::optional<QString>(QStringLiteral("10 10 0 100")) << centred;
        QTest::newRow("too few numbers")
            << std::optional<QString>(QStringLiteral("10 10 100")) << centred;
    }
    void initialFrame() {
        QFETCH(std::optional<QString>, saved);
        QFETCH(QRect, expected);
        const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
        QCOMPARE(WindowFrame::initial(saved, screens, QSize(1120, 780), QSize(580, 460)), expected);
    }

    void frameRoundTrip() {
        const QRect frame(-40, 25, 1000, 700);
        QCOMPARE(WindowFrame::decode(WindowFrame::encode(frame)), std::optional<QRect>(frame));
    }

    // Hand-edited frames whose edges do not fit in an int, or fit only until the window is grown
    // to its minimum size, open centred.
    void initialFrameOutOfRange_data() {
        QTest::addColumn<QString>("saved");
        QTest::newRow("right edge beyond int") << QStringLiteral("2147483000 0 1000 1000");
        QTest::newRow("bottom edge beyond int") << QStringLiteral("0 2147483000 1000 1000");
        QTest::newRow("grown beyond int") << QStringLiteral("2147483600 0 10 10");
        QTest::newRow("left edge at the int minimum") << QStringLiteral("-2147483648 0 900 600");
    }
    void initialFrameOutOfRange() {
        QFETCH(QString, saved);
        const QList<QRect> screens{QRect(0, 0, 1920, 1080)};
        const QRect centred(QPoint(1920 / 2 - 560, 1080 / 2 - 390), QSize(1120, 780));
        QCOMPARE(WindowFrame::initial(saved, screens, QSize(1120, 780), QSize(580, 460)), centred);
    }
};

QTEST_GUILESS_MAIN(TestLibrary)
#include "tst_library.moc"
