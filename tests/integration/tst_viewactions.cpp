#include "app/MainMenu.h"
#include "library/Dashboard.h"
#include "platform/Platform.h"
#include "platform/fake/FakeServices.h"
#include "platform/qt/SystemClock.h"
#include "platform/qt/WebEngineCookieStore.h"
#include "support/DevService.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QJsonObject>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QWebEngineView>

using namespace pinlark;

// The View menu drives the library window against the stand-in service, signed out: its home
// page leads to the sign-in page.
class TestViewActions : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_service.isRunning());
        Platform::Services s;
        s.defaults = std::make_unique<FakeUserDefaults>();
        s.defaults->set(QStringLiteral("origin"), m_service.origin().toString());
        s.cookieStore = std::make_unique<WebEngineCookieStore>();
        s.clock = std::make_unique<SystemClock>();
        s.workspace = std::make_unique<FakeWorkspace>();
        s.activationPolicy = std::make_unique<FakeActivationPolicy>();
        Platform::install(std::move(s));
    }

    void aCommandBeforeTheWindowWasEverShownCreatesIt() {
        installMainMenu();
        QMenuBar* bar = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            bar = bar ? bar : qobject_cast<QMenuBar*>(w);
        QVERIFY(bar);
        QAction* saves = bar->actions().at(2)->menu()->actions().at(1);
        QCOMPARE(saves->text(), QStringLiteral("Saves"));
        saves->trigger();

        // The menu bar went into the window built just now, which stays hidden.
        QWebEngineView* view = bar->window()->findChild<QWebEngineView*>();
        QCOMPARE(view, Dashboard::shared().webView());
        QVERIFY(!bar->window()->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(view->url().path(), QStringLiteral("/signin"), 20000);
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
        const auto pageRequest = [this] {
            for (const auto& r : m_service.requests())
                if (r[QLatin1String("path")].toString() == QLatin1String("/signin"))
                    return r.toObject();
            return QJsonObject();
        };
        QTRY_VERIFY_WITH_TIMEOUT(!pageRequest().isEmpty(), 20000);
        QCOMPARE(pageRequest()[QLatin1String("headers")][QLatin1String("cache-control")].toString(),
                 QStringLiteral("no-cache"));
    }

private:
    DevService m_service;
};

PINLARK_WEBENGINE_TEST_MAIN(TestViewActions)
#include "tst_viewactions.moc"
