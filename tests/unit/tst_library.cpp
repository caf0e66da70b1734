#include "library/Dashboard.h"
#include "library/ErrorPage.h"
#include "library/NavigationPolicy.h"
#include "library/WindowFrame.h"
#include "support/TestSupport.h"

using namespace pinlark;

using Decision = NavigationPolicy::Decision;

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
        row("identity provider in a frame", "https://accounts.google.com/", link, Decision::Allow,
            false);
        row("identity provider in a frame, outside", "https://appleid.apple.com/", link,
            Decision::OpenInBrowser, false);
        row("provider letters without a dot", "https://myaccounts.google.com/", link,
            Decision::Allow);
        row("google lookalike", "https://notgoogle.com/", link, Decision::OpenInBrowser);
        row("custom scheme", "smb://host/share", link, Decision::OpenInBrowser);
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

    // The page's title, untitled, and titled after the app.
    void windowTitle() {
        QStringList titles;
        for (const QString page : {"Saves", "", "Pinlark"})
            titles << Dashboard::windowTitleFor(page);
        QCOMPARE(titles, (QStringList{u"Saves — Pinlark"_s, u"Pinlark"_s, u"Pinlark"_s}));
    }

    // Where the window opens with a title bar of 30 pixels and borders of one around it: the
    // whole frame inside the screen's work area, at most the preferred size.
    void initialFrame_data() {
        QTest::addColumn<std::optional<QString>>("saved");
        QTest::addColumn<QList<QRect>>("screens");
        QTest::addColumn<QRect>("expected");
        const QList<QRect> two{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
        const QList<QRect> bottomPanel{QRect(0, 0, 1280, 800 - 41)};
        const QRect centred(QPoint(400, 150 + 14), QSize(1120, 780));
        const auto row =
            [](const char* name, const char* saved, const QList<QRect>& screens, QRect expected) {
                QTest::newRow(name)
                    << (saved ? std::optional(QString::fromLatin1(saved)) : std::nullopt) << screens
                    << expected;
            };
        row("nothing saved", nullptr, two, centred);
        row("off every screen", "5000 100 800 500", two, centred);
        row("below the minimum is grown, title bar in view", "10 10 100 100", two,
            QRect(10, 30, 580, 460));
        row("mostly on the second screen", "1700 100 1000 700", two, QRect(1921, 100, 1000, 700));
        row("1280x800, 41 px bottom panel", nullptr, bottomPanel, QRect(80, 30, 1120, 728));
        row("1024x600, 24 px top bar", nullptr, {QRect(0, 24, 1024, 576)}, QRect(1, 54, 1022, 545));
        row("remembered, larger than the screen", "100 50 1600 1000", bottomPanel,
            QRect(1, 30, 1278, 728));
        row("remembered, over the panel", "900 500 800 500", bottomPanel,
            QRect(479, 258, 800, 500));
        // Edges that do not fit in an int, or fit only until the window is grown.
        row("right edge beyond int", "2147483000 0 1000 1000", two, centred);
        row("left edge at the int minimum", "-2147483648 0 900 600", two, centred);
    }
    void initialFrame() {
        QFETCH(std::optional<QString>, saved);
        QFETCH(QList<QRect>, screens);
        QFETCH(QRect, expected);
        QCOMPARE(WindowFrame::initial(saved, screens, QSize(1120, 780), QSize(580, 460),
                                      QMargins(1, 30, 1, 1)),
                 expected);
    }
};

QTEST_MAIN(TestLibrary)
#include "tst_library.moc"
