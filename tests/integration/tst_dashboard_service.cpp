#include "library/Dashboard.h"
#include "platform/fake/FakePlatform.h"
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
        Platform::Services real;
        real.cookieStore = std::make_unique<WebEngineCookieStore>();
        real.clock = std::make_unique<SystemClock>();
        FakePlatform::install(std::move(real))
            .defaults->set(u"origin"_s, m_service.origin().toString());
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
        QTRY_COMPARE_WITH_TIMEOUT(d.window()->windowTitle(), u"Saves"_s, 20000);
        QCOMPARE(d.webView()->url(), Dashboard::homeURL());

        // The token the web view sent with its request for the saves page is the bearer.
        const auto token = runTask(Session::bearer());
        QVERIFY(token && !token->isEmpty());
        QString cookieSent;
        for (const QJsonValue& r : m_service.requests()) {
            const QJsonObject request = r.toObject();
            if (request.value("path"_L1).toString() == "/saves"_L1)
                cookieSent = request.value("headers"_L1).toObject().value("cookie"_L1).toString();
        }
        QVERIFY2(cookieSent.contains(u"authjs.session-token="_s + *token), qPrintable(cookieSent));
    }

private:
    DevService m_service;
};

// A fresh profile for every run: nothing signed in from an earlier one.
PINLARK_WEBENGINE_TEST_MAIN(TestDashboardService)
#include "tst_dashboard_service.moc"
