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
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QWebEngineView>

using namespace pinlark;

namespace {
template <typename T> qsizetype widgetsOf() {
    const QWidgetList all = QApplication::allWidgets();
    return std::count_if(all.begin(), all.end(), [](QWidget* w) { return qobject_cast<T*>(w); });
}
} // namespace

// The View menu drives the library window against the stand-in service, signed out: its home
// page leads to the sign-in page.
class TestViewActions : public QObject {
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

    void aCommandBeforeTheWindowWasEverShownCreatesIt() {
        installMainMenu();
        QCOMPARE(widgetsOf<QWebEngineView>(), 0);
        const QWidgetList all = QApplication::allWidgets();
        const auto bar = std::find_if(all.begin(), all.end(),
                                      [](QWidget* w) { return qobject_cast<QMenuBar*>(w); });
        QVERIFY(bar != all.end());
        QAction* saves = static_cast<QMenuBar*>(*bar)->actions().at(2)->menu()->actions().at(1);
        QCOMPARE(saves->text(), QStringLiteral("Saves"));
        saves->trigger();

        QCOMPARE(widgetsOf<QWebEngineView>(), 1);
        Dashboard& d = Dashboard::shared();
        QCOMPARE(d.window()->layout()->menuBar(), *bar);
        QVERIFY(!d.window()->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(d.webView()->url().path(), QStringLiteral("/signin"), 20000);
    }

    // Run in order, from the sign-in page with the download page loaded after it.
    void keys_data() {
        QTest::addColumn<QKeyCombination>("key");
        QTest::addColumn<QString>("path");
        QTest::newRow("Back") << (Qt::CTRL | Qt::Key_BracketLeft) << "/signin";
        QTest::newRow("Forward") << (Qt::CTRL | Qt::Key_BracketRight) << "/download";
        QTest::newRow("Saves, to the sign-in page") << (Qt::CTRL | Qt::Key_0) << "/signin";
        QTest::newRow("Reload") << (Qt::CTRL | Qt::Key_R) << "/signin";
    }
    void keys() {
        QFETCH(QKeyCombination, key);
        QFETCH(QString, path);
        Dashboard& d = Dashboard::shared();
        if (!d.window()->isVisible()) {
            QTRY_VERIFY_WITH_TIMEOUT(!d.webView()->page()->isLoading(), 20000);
            d.load(m_service.url(QStringLiteral("download")));
            QTRY_COMPARE_WITH_TIMEOUT(d.webView()->url().path(), QStringLiteral("/download"),
                                      20000);
            d.show();
            QVERIFY(QTest::qWaitForWindowActive(d.window()));
        }
        QTRY_VERIFY_WITH_TIMEOUT(!d.webView()->page()->isLoading(), 20000);
        m_service.clearRequests();

        QTest::keyClick(d.window(), key.key(), key.keyboardModifiers());
        QTRY_COMPARE_WITH_TIMEOUT(d.webView()->url().path(), path, 20000);
        if (QTest::currentDataTag() == QLatin1String("Reload")) {
            QTRY_VERIFY_WITH_TIMEOUT(!m_service.requests().isEmpty(), 20000);
            const QJsonObject request = m_service.requests().last().toObject();
            QCOMPARE(request.value(QLatin1String("path")).toString(), path);
            QCOMPARE(request.value(QLatin1String("headers"))
                         .toObject()
                         .value(QLatin1String("cache-control"))
                         .toString(),
                     QStringLiteral("no-cache"));
        }
    }

private:
    TestHome m_home;
    DevService m_service;
};

QTEST_MAIN(TestViewActions)
#include "tst_viewactions.moc"
