#include "library/ErrorPage.h"
#include "library/NavigationPolicy.h"
#include "library/WindowFrame.h"
#include "support/TestSupport.h"

using namespace pinlark;

using Decision = NavigationPolicy::Decision;
Q_DECLARE_METATYPE(Decision)

class TestLibrary : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() {
        TestState::reset();
        FakePlatform::install().defaults->set(u"origin"_s, "https://pinlark.example:8443/");
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
        row("subdomain of origin", "https://www.pinlark.example/", link, Decision::OpenInBrowser);
        const Decision handOff = Decision::HandOffToBrowserSignIn;
        row("identity provider", "https://accounts.google.com/o/oauth2", link, handOff);
        row("identity provider, script load", "https://appleid.apple.com/auth",
            QWebEnginePage::NavigationTypeOther, handOff);
        row("identity provider in a frame", "https://accounts.google.com/", link, Decision::Allow,
            false);
        row("identity provider in a frame, outside", "https://appleid.apple.com/", link,
            Decision::OpenInBrowser, false);
        row("provider letters without a dot", "https://myaccounts.google.com/", link,
            Decision::Allow);
        row("google lookalike", "https://notgoogle.com/", link, Decision::OpenInBrowser);
        row("custom scheme", "smb://host/share", link, Decision::OpenInBrowser);
        row("host-less custom scheme", "x-handler:run", link, Decision::OpenInBrowser);
        row("the engine's own page", "data:text/html,x", link, Decision::Allow);
        row("google as a subdomain", "https://google.com.evil.example/", link,
            Decision::OpenInBrowser);
    }
    void policy() {
        QFETCH(QUrl, url);
        QFETCH(int, type);
        QFETCH(bool, mainFrame);
        QFETCH(Decision, expected);
        QCOMPARE(NavigationPolicy::decide(url, QWebEnginePage::NavigationType(type), mainFrame),
                 expected);
        // A new window leaves the app unless it is a sign-in.
        if (mainFrame)
            QCOMPARE(NavigationPolicy::decideNewWindow(url),
                     expected == Decision::HandOffToBrowserSignIn ? expected
                                                                  : Decision::OpenInBrowser);
    }

    // The description's markup is escaped; a cancelled load shows no page.
    void errorPage() {
        const QString html =
            ErrorPage::forFailure(-105, u"<script>alert(1)</script> & \"x\""_s).value_or(QString());
        QVERIFY2(
            html.contains(u"<p>&lt;script&gt;alert(1)&lt;/script&gt; &amp; &quot;x&quot;</p>"_s) &&
                !html.contains("<script>"_L1),
            qPrintable(html));
        QCOMPARE(ErrorPage::forFailure(ErrorPage::abortedCode, u"aborted"_s), std::nullopt);
    }

    void initialFrame_data() {
        QTest::addColumn<std::optional<QString>>("saved");
        QTest::addColumn<QRect>("expected");
        const QRect centred(QPoint(1920 / 2 - 560, 1080 / 2 - 390), QSize(1120, 780));
        const auto row = [](const char* name, const char* saved, QRect expected) {
            QTest::newRow(name) << (saved ? std::optional(QString::fromLatin1(saved))
                                          : std::nullopt)
                                << expected;
        };
        row("nothing saved", nullptr, centred);
        row("off every screen", "5000 100 800 500", centred);
        row("below the minimum is grown", "10 10 100 100", QRect(10, 10, 580, 460));
        // Edges that do not fit in an int, or fit only until the window is grown.
        row("right edge beyond int", "2147483000 0 1000 1000", centred);
        row("left edge at the int minimum", "-2147483648 0 900 600", centred);
    }
    void initialFrame() {
        QFETCH(std::optional<QString>, saved);
        QFETCH(QRect, expected);
        const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
        QCOMPARE(WindowFrame::initial(saved, screens, QSize(1120, 780), QSize(580, 460)), expected);
    }
};

QTEST_MAIN(TestLibrary)
#include "tst_library.moc"
