#include "library/Dashboard.h"
#include "platform/Platform.h"
#include "platform/fake/FakeServices.h"
#include "platform/qt/SystemClock.h"
#include "platform/qt/WebEngineCookieStore.h"
#include "session/Session.h"
#include "support/DevService.h"
#include "support/TestSupport.h"

#include <QJsonObject>
#include <QTest>
#include <QWebEngineView>

using namespace pinlark;

// The library window against the stand-in service: signed out, the home page leads to the
// sign-in form; signing in there inside the window gives the app the same session.
class TestDashboardService : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_service.isRunning());
        Platform::Services s;
        auto defaults = std::make_unique<FakeUserDefaults>();
        defaults->set(QStringLiteral("origin"), m_service.origin().toString());
        s.defaults = std::move(defaults);
        s.cookieStore = std::make_unique<WebEngineCookieStore>();
        s.clock = std::make_unique<SystemClock>();
        s.workspace = std::make_unique<FakeWorkspace>();
        s.activationPolicy = std::make_unique<FakeActivationPolicy>();
        Platform::install(std::move(s));
    }

    void signInInsideTheWindow() {
        Dashboard& d = Dashboard::shared();
        d.show();
        QTRY_COMPARE_WITH_TIMEOUT(d.webView()->url().path(), QStringLiteral("/signin"), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!d.webView()->page()->isLoading(), 20000);
        QCOMPARE(runTask(Session::bearer()), std::nullopt);

        m_service.clearRequests();
        d.webView()->page()->runJavaScript(
            QStringLiteral("document.forms[0].email.value = 'reader@example.test';"
                           "document.forms[0].requestSubmit()"));
        QTRY_COMPARE_WITH_TIMEOUT(d.window()->windowTitle(), QStringLiteral("Saves"), 20000);
        QCOMPARE(d.webView()->url(), Dashboard::homeURL());

        // The token the web view sent with its request for the saves page is the bearer.
        const auto token = runTask(Session::bearer());
        QVERIFY(token && !token->isEmpty());
        QString cookieSent;
        for (const QJsonValue& r : m_service.requests()) {
            const QJsonObject request = r.toObject();
            if (request.value(QLatin1String("path")).toString() == QLatin1String("/saves"))
                cookieSent = request.value(QLatin1String("headers"))
                                 .toObject()
                                 .value(QLatin1String("cookie"))
                                 .toString();
        }
        QVERIFY2(cookieSent.contains(QStringLiteral("authjs.session-token=") + *token),
                 qPrintable(cookieSent));
    }

private:
    // A fresh profile and defaults for every run: nothing signed in from an earlier one.
    TestHome m_home;
    DevService m_service;
};

QTEST_MAIN(TestDashboardService)
#include "tst_dashboard_service.moc"
