#include "app/MainMenu.h"
#include "library/Dashboard.h"
#include "platform/qt/SystemClock.h"
#include "platform/qt/WebEngineCookieStore.h"
#include "session/Session.h"
#include "support/DevService.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QJsonObject>
#include <QMenu>
#include <QMenuBar>
#include <QWebEngineView>

using namespace pinlark;

// The library window against the stand-in service: signed out, the home page leads to the
// sign-in form, which the View menu drives; signing in there inside the window gives the app
// the same session.
class TestDashboardService : public QObject {
    Q_OBJECT

    // The last request for `path` the service received.
    QJsonObject lastRequest(const QString& path) {
        QJsonObject found;
        for (const QJsonValue& r : m_service.requests())
            if (r["path"_L1].toString() == path)
                found = r.toObject();
        return found;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_service.isRunning());
        Platform::Services real;
        real.cookieStore = std::make_unique<WebEngineCookieStore>();
        real.clock = std::make_unique<SystemClock>();
        FakePlatform::install(std::move(real))
            .defaults->set(u"origin"_s, m_service.origin().toString());
    }

    void aCommandBeforeTheWindowWasEverShownCreatesIt() {
        installMainMenu();
        QMenuBar* bar = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            bar = bar ? bar : qobject_cast<QMenuBar*>(w);
        QVERIFY(bar);
        QAction* saves = bar->actions().at(2)->menu()->actions().at(1);
        QCOMPARE(saves->text(), u"Saves"_s);
        saves->trigger();

        // The menu bar went into the window built just now, which stays hidden.
        QWebEngineView* view = bar->window()->findChild<QWebEngineView*>();
        QCOMPARE(view, Dashboard::shared().webView());
        QVERIFY(!bar->window()->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(view->url().path(), u"/signin"_s, 20000);
    }

    // Ctrl+R in the shown window: its menu bar's key equivalents reach the web view.
    void reloadBypassesCaches() {
        Dashboard& d = Dashboard::shared();
        QTRY_VERIFY_WITH_TIMEOUT(!d.webView()->page()->isLoading(), 20000);
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(d.window()));
        m_service.clearRequests();
        QTest::keyClick(d.window(), Qt::Key_R, Qt::ControlModifier);
        // The page's reload, not the favicon the engine may ask for beside it.
        QTRY_VERIFY_WITH_TIMEOUT(!lastRequest(u"/signin"_s).isEmpty(), 20000);
        QCOMPARE(lastRequest(u"/signin"_s)["headers"_L1]["cache-control"_L1].toString(),
                 u"no-cache"_s);
    }

    void signInInsideTheWindow() {
        Dashboard& d = Dashboard::shared();
        d.show();
        QTRY_COMPARE_WITH_TIMEOUT(d.webView()->url().path(), u"/signin"_s, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!d.webView()->page()->isLoading(), 20000);
        QCOMPARE(runTask(Session::bearer()), std::nullopt);

        m_service.clearRequests();
        d.webView()->page()->runJavaScript(
            QStringLiteral("document.forms[0].email.value = 'reader@example.test';"
                           "document.forms[0].requestSubmit()"));
        QTRY_COMPARE_WITH_TIMEOUT(d.window()->windowTitle(), u"Saves — Pinlark"_s, 20000);
        QCOMPARE(d.webView()->url(), LibraryWindow::homeURL());

        // The token the web view sent with its request for the saves page is the bearer.
        const auto token = runTask(Session::bearer());
        QVERIFY(token && !token->isEmpty());
        const QString cookieSent = lastRequest(u"/saves"_s)["headers"_L1]["cookie"_L1].toString();
        QVERIFY2(cookieSent.contains(u"authjs.session-token="_s + *token), qPrintable(cookieSent));
    }

private:
    DevService m_service;
};

// A fresh profile for every run: nothing signed in from an earlier one.
PINLARK_WEBENGINE_TEST_MAIN(TestDashboardService)
#include "tst_dashboard_service.moc"
