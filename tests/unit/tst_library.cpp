#include "library/ErrorPage.h"
#include "library/LoadBar.h"
#include "library/NavigationPolicy.h"
#include "library/WindowFrame.h"
#include "support/TestSupport.h"

#include <QImage>

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
        row("origin host, other port and scheme", "http://pinlark.example:80/x", link,
            Decision::Allow);
        row("subdomain of origin", "https://www.pinlark.example/", link, Decision::OpenInBrowser);
        row("google.com", "https://google.com/maps", link, Decision::Allow);
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
        row("gstatic", "https://fonts.gstatic.com/s/a.woff2", link, Decision::Allow);
        row("google lookalike", "https://notgoogle.com/", link, Decision::OpenInBrowser);
        row("google as a subdomain", "https://google.com.evil.example/", link,
            Decision::OpenInBrowser);
        row("outside, script or frame load", "https://example.org/",
            QWebEnginePage::NavigationTypeOther, Decision::Allow, false);
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

    void errorPage_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("inserted");
        QTest::newRow("markup is escaped")
            << -105 << u"<script>alert(1)</script> & \"x\""_s
            << u"<p>&lt;script&gt;alert(1)&lt;/script&gt; &amp; &quot;x&quot;</p>"_s;
        QTest::newRow("cancelled") << ErrorPage::abortedCode << u"aborted"_s << QString();
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
        QVERIFY(!html->contains("<script>"_L1));
        QVERIFY(html->contains("<h1>Can&rsquo;t reach Pinlark</h1>"_L1));
    }

    void initialFrame_data() {
        QTest::addColumn<std::optional<QString>>("saved");
        QTest::addColumn<QRect>("expected");
        const QRect centred(QPoint(1920 / 2 - 560, 1080 / 2 - 390), QSize(1120, 780));
        QTest::newRow("nothing saved") << std::optional<QString>() << centred;
        QTest::newRow("partly off screen")
            << std::optional<QString>(u"-300 -20 900 600"_s) << QRect(-300, -20, 900, 600);
        QTest::newRow("off every screen")
            << std::optional<QString>(u"5000 100 800 500"_s) << centred;
        QTest::newRow("below the minimum is grown")
            << std::optional<QString>(u"10 10 100 100"_s) << QRect(10, 10, 580, 460);
        // Edges that do not fit in an int, or fit only until the window is grown.
        QTest::newRow("right edge beyond int")
            << std::optional<QString>(u"2147483000 0 1000 1000"_s) << centred;
        QTest::newRow("left edge at the int minimum")
            << std::optional<QString>(u"-2147483648 0 900 600"_s) << centred;
    }
    void initialFrame() {
        QFETCH(std::optional<QString>, saved);
        QFETCH(QRect, expected);
        const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
        QCOMPARE(WindowFrame::initial(saved, screens, QSize(1120, 780), QSize(580, 460)), expected);
    }

    // The load bar fills its share of the width in the accent colour while a page loads.
    void loadBarDrawing_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("filledColumns");
        QTest::newRow("0") << 0.0 << 0;
        QTest::newRow("1") << 1.0 << 0;
        QTest::newRow("not a number") << std::nan("") << 0;
        QTest::newRow("half") << 0.5 << 100;
    }
    void loadBarDrawing() {
        QFETCH(double, value);
        QFETCH(int, filledColumns);
        LoadBar bar;
        bar.resize(200, 2);
        bar.setValue(value);
        QCOMPARE(bar.value(), value);

        QImage image(bar.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        bar.render(&image);

        const QColor accent = bar.palette().color(QPalette::Active, QPalette::Highlight);
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                if (x < filledColumns)
                    QCOMPARE(pixel, accent);
                else
                    QCOMPARE(pixel.alpha(), 0);
            }
        }
    }
};

QTEST_MAIN(TestLibrary)
#include "tst_library.moc"
