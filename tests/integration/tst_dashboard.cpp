#include "library/Dashboard.h"
#include "platform/Platform.h"
#include "platform/qt/WebEngineCookieStore.h"
#include "support/PagePeer.h"
#include "support/TestSupport.h"

#include <QSignalSpy>
#include <QWebEngineHistory>
#include <QWebEngineView>

using namespace pinlark;

namespace {

QByteArray ok(const QByteArray& html, const QByteArray& extraHeaders = {}) {
    return httpAnswer("200 OK", "text/html; charset=utf-8", html, extraHeaders);
}

QVariant evaluate(QWebEngineView* view, const QString& script) {
    const auto result = std::make_shared<std::optional<QVariant>>();
    view->page()->runJavaScript(script, [result](const QVariant& v) { *result = v; });
    if (!QTest::qWaitFor([&] { return result->has_value(); }, 10000))
        qWarning("script did not answer: %s", qPrintable(script));
    return result->value_or(QVariant());
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
        m_server.answers[u"/target"_s] = ok("<html><body>target</body></html>");
        m_server.answers[u"/no-content"_s] =
            "HTTP/1.1 204 No Content\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
        Platform::Services real;
        real.cookieStore = std::make_unique<WebEngineCookieStore>();
        m_fakes = FakePlatform::install(std::move(real));
        m_fakes.defaults->set(u"origin"_s, m_server.url().toString());
    }

    void init() {
        Dashboard::release(); // each test starts with a window of its own
        m_fakes.workspace->opened.clear();
    }

    // First use loads the home page; showing makes the app regular and active. Closing hides
    // the window, saves its frame, switches back to accessory after the event and freezes the
    // page; showing brings back the same document, active, without a reload.
    void showAndClose() {
        Dashboard& d = Dashboard::shared();
        d.show();
        QCOMPARE(m_fakes.activationPolicy->current, ActivationPolicy::Policy::Regular);
        QTRY_COMPARE_WITH_TIMEOUT(d.window()->windowTitle(), u"Saves — Pinlark"_s, 20000);
        QCOMPARE(d.webView()->url(), LibraryWindow::homeURL());
        QCOMPARE(m_server.count(u"/saves"_s), 1);
        QCOMPARE(m_server.lastUserAgent, QByteArray(Dashboard::userAgent));
        evaluate(d.webView(), u"window.marker = 42"_s);
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
        QCOMPARE(m_server.count(u"/saves"_s), 1);

        // A load while hidden wakes the page until it is done.
        d.hide();
        QTRY_COMPARE(page->lifecycleState(), QWebEnginePage::LifecycleState::Frozen);
        QVERIFY(loadAndWait(m_server.url(u"/target"_s)));
        QTRY_COMPARE(page->lifecycleState(), QWebEnginePage::LifecycleState::Frozen);
    }

    // Hidden for `discardAfter` in one stretch, the page is discarded; showing the window brings
    // it back, reloaded at the same address with its history and the profile's session.
    void discardWhenHiddenLong() {
        using State = QWebEnginePage::LifecycleState;
        const auto almost = Dashboard::discardAfter - std::chrono::seconds(1);
        Dashboard& d = Dashboard::shared();
        QWebEnginePage* page = d.webView()->page();
        d.show();
        QTRY_COMPARE_WITH_TIMEOUT(d.window()->windowTitle(), u"Saves — Pinlark"_s, 20000);
        QVERIFY(loadAndWait(m_server.url(u"/target"_s)));
        evaluate(d.webView(), u"document.cookie = 'session=kept; max-age=600'"_s);
        evaluate(d.webView(), u"window.marker = 42"_s);
        const int before = m_server.count(u"/target"_s);
        const int homes = m_server.count(u"/saves"_s);

        // Each showing starts the stretch again.
        d.hide();
        m_fakes.clock->advance(almost);
        d.show();
        d.hide();
        m_fakes.clock->advance(almost);
        QTRY_COMPARE(page->lifecycleState(), State::Frozen);
        m_fakes.clock->advance(std::chrono::seconds(1));
        QTRY_COMPARE(page->lifecycleState(), State::Discarded);
        QCOMPARE(d.webView()->url(), m_server.url(u"/target"_s));

        d.show();
        QCOMPARE(page->lifecycleState(), State::Active);
        QTRY_COMPARE_WITH_TIMEOUT(m_server.count(u"/target"_s), before + 1, 20000);
        QCOMPARE(d.webView()->url(), m_server.url(u"/target"_s));
        QTRY_COMPARE(
            evaluate(d.webView(), u"document.body && document.body.textContent"_s).toString(),
            u"target"_s);
        QVERIFY(evaluate(d.webView(), u"window.marker"_s).isNull());
        QCOMPARE(evaluate(d.webView(), u"document.cookie"_s).toString(), u"session=kept"_s);
        QVERIFY(d.webView()->history()->canGoBack());
        QCOMPARE(m_server.count(u"/saves"_s), homes);

        // A load into a discarded page wakes it.
        d.hide();
        m_fakes.clock->advance(Dashboard::discardAfter);
        QTRY_COMPARE(page->lifecycleState(), State::Discarded);
        QVERIFY(loadAndWait(LibraryWindow::homeURL()));
        QCOMPARE(d.webView()->url(), LibraryWindow::homeURL());
    }

    // Where a click on the page leads: the view stays and the browser is handed `opened`. A
    // page that leaves by itself (no `opened`) goes out in the view, and nothing is handed over.
    void navigation_data() {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<QUrl>("opened");
        const QUrl target = m_server.url(u"/target"_s, "localhost");
        const QByteArray outside = target.toEncoded();
        const auto link = [](const QByteArray& attributes) { // over the whole page
            return ok("<html><body><a " + attributes +
                      " style=\"display:block;position:fixed;inset:0\">go</a></body></html>");
        };
        QTest::newRow("link out") << link("href=\"" + outside + "\"") << target;
        QTest::newRow("new-window link, own host")
            << link("href=\"/saves\" target=\"_blank\"") << LibraryWindow::homeURL();
        QTest::newRow("window.open")
            << link("href=\"#\" onclick=\"window.open('" + outside + "'); return false\"")
            << target;
        // Links of other schemes go nowhere: the desktop is handed only the web link after them,
        // so that waiting for that is enough.
        const QByteArray thenOutside = "setTimeout(() => window.open('" + outside + "'), 0)";
        QTest::newRow("custom-scheme link")
            << link("href=\"steam://run/1\" onclick=\"" + thenOutside + "\"") << target;
        QTest::newRow("window.open, custom scheme")
            << link("href=\"#\" onclick=\"window.open('smb://host/share'); " + thenOutside +
                    "; return false\"")
            << target;
        QTest::newRow("redirect out")
            << httpAnswer("302 Found", {}, {}, "Location: " + outside + "\r\n") << QUrl();
        QTest::newRow("form post out")
            << ok("<html><body><form method=post action=\"" + outside +
                  "\"></form><script>document.forms[0].submit()</script></body></html>")
            << QUrl();
    }
    void navigation() {
        QFETCH(QByteArray, page);
        QFETCH(QUrl, opened);
        const QString path = u"/page%1"_s.arg(++m_pages);
        m_server.answers[path] = page;
        const QList<QUrl> handed = opened.isEmpty() ? QList<QUrl>{} : QList<QUrl>{opened};
        Dashboard& d = Dashboard::shared();
        d.show();
        const int requests = m_server.count(u"/target"_s);
        QVERIFY(loadAndWait(m_server.url(path)));
        if (opened.isEmpty()) {
            QTRY_VERIFY_WITH_TIMEOUT(m_server.count(u"/target"_s) > requests, 20000);
        } else {
            QWidget* surface = d.webView()->focusProxy();
            QVERIFY(surface);
            QTest::mouseClick(surface, Qt::LeftButton, {}, surface->rect().center());
            QTRY_COMPARE_WITH_TIMEOUT(m_fakes.workspace->opened, handed, 20000);
        }
        QTRY_COMPARE_WITH_TIMEOUT(
            d.webView()->url(),
            opened.isEmpty() ? m_server.url(u"/target"_s, "localhost") : m_server.url(path), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!d.webView()->page()->isLoading(), 20000);
        QCOMPARE(m_fakes.workspace->opened, handed);
    }

    // A service that can't be reached and a load that takes 60 seconds show error pages;
    // reopening the window retries the home page.
    void errorPages() {
        Dashboard& d = Dashboard::shared();
        d.load(QUrl(u"http://127.0.0.1:%1/saves"_s.arg(closedPort())));
        QTRY_VERIFY_WITH_TIMEOUT(d.isShowingErrorPage(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(html(d.webView()).contains(u"Can’t reach Pinlark"_s), 20000);
        d.hide();
        d.show();
        QTRY_COMPARE_WITH_TIMEOUT(d.window()->windowTitle(), u"Saves — Pinlark"_s, 20000);
        QVERIFY(!d.isShowingErrorPage());

        d.load(m_server.url(u"/hang"_s));
        QTRY_VERIFY_WITH_TIMEOUT(m_server.requested.contains(u"/hang"_s), 20000);
        m_fakes.clock->advance(std::chrono::seconds(59));
        QVERIFY(!d.isShowingErrorPage());
        m_fakes.clock->advance(std::chrono::seconds(1));
        QVERIFY(d.isShowingErrorPage());
        QTRY_VERIFY_WITH_TIMEOUT(html(d.webView()).contains(u"The request timed out."_s), 20000);
    }

    // Loads that end without a document and without failing leave what is shown alone.
    void stoppedLoadIsNotTimedOut_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("204") << "/no-content";
        QTest::newRow("stopped") << "/hang";
    }
    void stoppedLoadIsNotTimedOut() {
        QFETCH(QString, path);
        Dashboard& d = Dashboard::shared();
        QVERIFY(loadAndWait(LibraryWindow::homeURL()));
        const int requests = m_server.count(path);
        QSignalSpy finished(d.webView()->page(), &QWebEnginePage::loadFinished);
        d.load(m_server.url(path));
        QTRY_VERIFY_WITH_TIMEOUT(m_server.count(path) > requests, 20000);
        if (m_server.hanging.contains(path))
            d.webView()->stop();
        QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 20000);
        m_fakes.clock->advance(std::chrono::seconds(61));
        QVERIFY(!d.isShowingErrorPage());
        QCOMPARE(d.webView()->url(), LibraryWindow::homeURL());
    }

private:
    PagePeer m_server;
    int m_pages = 0;
    FakePlatform m_fakes;
};

// A fresh profile for every run: nothing signed in from an earlier one.
PINLARK_WEBENGINE_TEST_MAIN(TestDashboard)
#include "tst_dashboard.moc"
