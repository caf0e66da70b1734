#include "library/Dashboard.h"
#include "platform/Platform.h"
#include "platform/qt/WebEngineCookieStore.h"
#include "support/PagePeer.h"
#include "support/TestSupport.h"

#include <QSignalSpy>
#include <QWebEngineLoadingInfo>
#include <QWebEngineView>

using namespace pinlark;

namespace {

QByteArray ok(const QByteArray& html, const QByteArray& extraHeaders = {}) {
    return httpAnswer("200 OK", "text/html; charset=utf-8", html, extraHeaders);
}

QVariant evaluate(QWebEngineView* view, const QString& script) {
    QVariant result;
    bool done = false;
    view->page()->runJavaScript(script, [&](const QVariant& v) {
        result = v;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, 10000))
        qWarning("script did not answer: %s", qPrintable(script));
    return result;
}

// Loads `url` through the library window and waits until that load has finished.
bool loadAndWait(const QUrl& url) {
    QSignalSpy finished(Dashboard::shared().webView()->page(), &QWebEnginePage::loadFinished);
    Dashboard::shared().load(url);
    return QTest::qWaitFor([&] { return !finished.isEmpty(); }, 20000);
}

QString html(QWebEngineView* view) {
    return evaluate(view, u"document.documentElement.outerHTML"_s).toString();
}

} // namespace

class TestDashboard : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        m_server.answers[u"/saves"_s] =
            ok("<html><head><title>Saves</title></head><body>saves</body></html>");
        m_server.hanging.append(u"/hang"_s);
        const QByteArray outside = m_server.url(u"/target"_s, "localhost").toEncoded();
        const auto fullPageLink = [](const QByteArray& attributes) {
            return ok("<html><body><a " + attributes +
                      " style=\"display:block;position:fixed;inset:0\">go</a></body></html>");
        };
        m_server.answers[u"/target"_s] = ok("<html><body>target</body></html>");
        m_server.answers[u"/link-out"_s] = fullPageLink("href=\"" + outside + "\"");
        m_server.answers[u"/link-new-window"_s] = fullPageLink("href=\"/saves\" target=\"_blank\"");
        m_server.answers[u"/window-open"_s] =
            fullPageLink("href=\"#\" onclick=\"window.open('" + outside + "'); return false\"");
        // Each opens a web link after the other one, so that waiting for that is enough.
        const QByteArray thenOutside = "setTimeout(() => window.open('" + outside + "'), 0)";
        m_server.answers[u"/link-custom"_s] =
            fullPageLink("href=\"steam://run/1\" onclick=\"" + thenOutside + "\"");
        m_server.answers[u"/window-open-custom"_s] =
            fullPageLink("href=\"#\" onclick=\"window.open('smb://host/share'); " + thenOutside +
                         "; return false\"");
        m_server.answers[u"/redirect-out"_s] =
            httpAnswer("302 Found", {}, {}, "Location: " + outside + "\r\n");
        m_server.answers[u"/form-out"_s] =
            ok("<html><body><form method=post action=\"" + outside +
               "\"></form><script>document.forms[0].submit()</script></body></html>");

        Platform::Services real;
        real.cookieStore = std::make_unique<WebEngineCookieStore>();
        m_fakes = FakePlatform::install(std::move(real));
        m_fakes.defaults->set(u"origin"_s, m_server.url().toString());
    }

    void init() {
        Dashboard::release(); // each test starts with a window of its own
        m_fakes.workspace->opened.clear();
        m_fakes.activationPolicy->changes.clear();
    }

    // First use loads the home page; showing makes the app regular and active.
    void homePage() {
        Dashboard& d = Dashboard::shared();
        d.show();
        QCOMPARE(m_fakes.activationPolicy->current, ActivationPolicy::Policy::Regular);
        QTRY_COMPARE_WITH_TIMEOUT(d.window()->windowTitle(), u"Saves"_s, 20000);
        QCOMPARE(d.webView()->url(), Dashboard::homeURL());
        QCOMPARE(m_server.count(u"/saves"_s), 1);
        QCOMPARE(m_server.lastUserAgent, QByteArray(Dashboard::userAgent));
    }

    // Where a click on the page (or its own script) leads: the web view's URL afterwards and
    // what was handed to the browser.
    void navigation_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("click");
        QTest::addColumn<QString>("endsAt");
        QTest::addColumn<QString>("opened");
        const QString outside = m_server.url(u"/target"_s, "localhost").toString();
        const QString saves = Dashboard::homeURL().toString();
        QTest::newRow("link out") << u"/link-out"_s << true << u"/link-out"_s << outside;
        QTest::newRow("new-window link, own host")
            << u"/link-new-window"_s << true << u"/link-new-window"_s << saves;
        QTest::newRow("window.open") << u"/window-open"_s << true << u"/window-open"_s << outside;
        // Links of other schemes go nowhere: the desktop is handed only the web link after them.
        QTest::newRow("custom-scheme link")
            << u"/link-custom"_s << true << u"/link-custom"_s << outside;
        QTest::newRow("window.open, custom scheme")
            << u"/window-open-custom"_s << true << u"/window-open-custom"_s << outside;
        QTest::newRow("redirect out") << u"/redirect-out"_s << false << outside << QString();
        QTest::newRow("form post out") << u"/form-out"_s << false << outside << QString();
    }
    void navigation() {
        QFETCH(QString, path);
        QFETCH(bool, click);
        QFETCH(QString, endsAt);
        QFETCH(QString, opened);
        const QUrl expected = endsAt.startsWith(u'/') ? m_server.url(endsAt) : QUrl(endsAt);
        Dashboard& d = Dashboard::shared();
        d.show();
        const int requests = m_server.count(expected.path());
        QVERIFY(loadAndWait(m_server.url(path)));
        if (click) {
            QWidget* surface = d.webView()->focusProxy();
            QVERIFY(surface);
            QTest::mouseClick(surface, Qt::LeftButton, {}, surface->rect().center());
        }
        if (!opened.isEmpty())
            QTRY_COMPARE_WITH_TIMEOUT(m_fakes.workspace->opened, QList<QUrl>{QUrl(opened)}, 20000);
        if (expected != m_server.url(path))
            QTRY_VERIFY_WITH_TIMEOUT(m_server.count(expected.path()) > requests, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(d.webView()->url(), expected, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!d.webView()->page()->isLoading(), 20000);
        QCOMPARE(m_fakes.workspace->opened,
                 opened.isEmpty() ? QList<QUrl>{} : QList<QUrl>{QUrl(opened)});
    }

    void unreachable() {
        Dashboard& d = Dashboard::shared();
        d.load(QUrl(u"http://127.0.0.1:%1/saves"_s.arg(closedPort())));
        QTRY_VERIFY_WITH_TIMEOUT(d.isShowingErrorPage(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(html(d.webView()).contains(u"Can’t reach Pinlark"_s), 20000);

        // Reopening the window retries the home page.
        d.hide();
        d.show();
        QTRY_COMPARE_WITH_TIMEOUT(d.window()->windowTitle(), u"Saves"_s, 20000);
        QVERIFY(!d.isShowingErrorPage());
    }

    void timeout() {
        Dashboard& d = Dashboard::shared();
        d.load(m_server.url(u"/hang"_s));
        QTRY_VERIFY_WITH_TIMEOUT(m_server.requested.contains(u"/hang"_s), 20000);
        m_fakes.clock->advance(std::chrono::seconds(59));
        QVERIFY(!d.isShowingErrorPage());
        m_fakes.clock->advance(std::chrono::seconds(1));
        QVERIFY(d.isShowingErrorPage());
        QTRY_VERIFY_WITH_TIMEOUT(html(d.webView()).contains(u"The request timed out."_s), 20000);
    }

    // Closing hides the window, saves its frame, switches back to accessory after the event
    // and freezes the page; showing brings back the same document, active, without a reload.
    void closeHides() {
        Dashboard& d = Dashboard::shared();
        d.show();
        QTRY_COMPARE_WITH_TIMEOUT(d.window()->windowTitle(), u"Saves"_s, 20000);
        evaluate(d.webView(), u"window.marker = 42"_s);
        const int requests = m_server.count(u"/saves"_s);
        d.window()->setGeometry(QRect(40, 30, 700, 500));

        QVERIFY(!d.window()->close());
        QVERIFY(!d.window()->isVisible());
        QCOMPARE(m_fakes.defaults->string(QLatin1String(Dashboard::frameKey)), u"40 30 700 500"_s);
        QTRY_COMPARE(m_fakes.activationPolicy->current, ActivationPolicy::Policy::Accessory);
        QWebEnginePage* page = d.webView()->page();
        QTRY_COMPARE(page->lifecycleState(), QWebEnginePage::LifecycleState::Frozen);

        d.show();
        QCOMPARE(page->lifecycleState(), QWebEnginePage::LifecycleState::Active);
        QCOMPARE(m_fakes.activationPolicy->current, ActivationPolicy::Policy::Regular);
        QCOMPARE(evaluate(d.webView(), u"window.marker"_s).toInt(), 42);
        QCOMPARE(m_server.count(u"/saves"_s), requests);

        // A load while hidden wakes the page until it is done.
        d.hide();
        QTRY_COMPARE(page->lifecycleState(), QWebEnginePage::LifecycleState::Frozen);
        QVERIFY(loadAndWait(m_server.url(u"/target"_s)));
        QTRY_COMPARE(page->lifecycleState(), QWebEnginePage::LifecycleState::Frozen);
    }

    // Loads that end without a document and without failing leave what is shown alone.
    void stoppedLoadIsNotTimedOut_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("204") << "/no-content";
        QTest::newRow("stopped") << "/hang";
    }
    void stoppedLoadIsNotTimedOut() {
        QFETCH(QString, path);
        m_server.answers[QStringLiteral("/no-content")] =
            "HTTP/1.1 204 No Content\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
        Dashboard& d = Dashboard::shared();
        QVERIFY(loadAndWait(Dashboard::homeURL()));
        const int requests = m_server.count(path);
        QSignalSpy finished(d.webView()->page(), &QWebEnginePage::loadFinished);
        d.load(m_server.url(path));
        QTRY_VERIFY_WITH_TIMEOUT(m_server.count(path) > requests, 20000);
        if (m_server.hanging.contains(path))
            d.webView()->stop();
        QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 20000);
        m_fakes.clock->advance(std::chrono::seconds(61));
        QVERIFY(!d.isShowingErrorPage());
        QCOMPARE(d.webView()->url(), Dashboard::homeURL());
    }

private:
    PagePeer m_server;
    FakePlatform m_fakes;
};

// A fresh profile for every run: nothing signed in from an earlier one.
PINLARK_WEBENGINE_TEST_MAIN(TestDashboard)
#include "tst_dashboard.moc"
