#include "library/Dashboard.h"
#include "platform/linux/BrowserWorkspace.h"
#include "platform/qt/SystemClock.h"
#include "platform/qt/WebEngineCookieStore.h"
#include "service/API.h"
#include "session/Connect.h"
#include "session/Session.h"
#include "support/DevService.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

using namespace pinlark;

// The browser sign-in with a real browser: the app's own Workspace opens the sign-in link with
// $BROWSER, here a script that drives Debian's chromium. The browser signs in on the stand-in
// service, whose page hands the session back to the app's listener.
class TestBrowserSignIn : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_service.isRunning());
        QVERIFY(m_results.isValid());
        Platform::Services real;
        real.cookieStore = std::make_unique<WebEngineCookieStore>();
        real.clock = std::make_unique<SystemClock>();
        real.workspace = std::make_unique<BrowserWorkspace>();
        // localhost, not 127.0.0.1: the session cookie of an IP address host would be a domain
        // cookie, which browsers refuse.
        QUrl origin = m_service.origin();
        origin.setHost(QStringLiteral("localhost"));
        FakePlatform::install(std::move(real)).defaults->set(u"origin"_qs, origin.toString());
        qputenv("BROWSER", "node " + qgetenv("PINLARK_BROWSER_DRIVER") + " %s");
        qputenv("PINLARK_E2E_RESULT", m_resultFile.toLocal8Bit());
    }

    void signsInThroughTheBrowser() {
        Connect::begin();
        QVERIFY(Connect::isRunning());
        QVERIFY2(QTest::qWaitFor([&] { return QFile::exists(m_resultFile); }, 120000),
                 "the browser script did not finish");
        QFile file(m_resultFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject result = QJsonDocument::fromJson(file.readAll()).object();
        QVERIFY2(!result.contains(u"error"_qs), qPrintable(result.value(u"error"_qs).toString()));
        // The forgery from another origin, tried first, was not taken: the real hand-back found
        // the sign-in still waiting for it.
        QCOMPARE(result.value(u"handBack"_qs).toString(), u"ok"_qs);
        QVERIFY(!Connect::isRunning());

        // The session is the stand-in's, the library shows the saves, and the API takes it.
        QVERIFY(QTest::qWaitFor([] { return runTask(Session::bearer()).has_value(); }, 20000));
        const QString token = *runTask(Session::bearer());
        QVERIFY(!token.isEmpty() && token != u"forged"_qs);
        QTRY_COMPARE_WITH_TIMEOUT(Dashboard::shared().window()->windowTitle(),
                                  u"Saves — Pinlark"_qs, 30000);
        const SaveOutcome saved = runTask(API::save(u"https://example.org/after-sign-in"_qs));
        QVERIFY(!saved.id.isEmpty());
    }

private:
    DevService m_service;
    QTemporaryDir m_results;
    const QString m_resultFile = m_results.filePath(QStringLiteral("result.json"));
};

// A fresh profile for every run: nothing signed in from an earlier one.
PINLARK_WEBENGINE_TEST_MAIN(TestBrowserSignIn)
#include "tst_browser_signin.moc"
