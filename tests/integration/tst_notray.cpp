#include "TestSupport.h"
#include "app/MainMenu.h"
#include "menubar/StatusItem.h"
#include "menubar/TrayStandIn.h"
#include "platform/fake/FakePlatform.h"
#include "support/Xvfb.h"

#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QToolButton>
#include <QVBoxLayout>

using namespace pinlark;

namespace {

XvfbServer* server = nullptr;

class IdleClient : public SavesClient {
public:
    QCoro::Task<SaveOutcome> save(QString, CancelToken) override { co_return SaveOutcome{}; }
    QCoro::Task<QList<SaveRow>> recent(int, CancelToken) override { co_return QList<SaveRow>{}; }
    QCoro::Task<SaveRow> get(QString, CancelToken) override { co_return SaveRow{}; }
};

QStringList titles(const QList<QAction*>& actions) {
    QStringList result;
    for (const QAction* action : actions)
        result.append(action->text());
    return result;
}

} // namespace

class TestNoTray : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        if (!server->running())
            QSKIP("Xvfb did not start (scripts/bootstrap installs it)");
        if (QStandardPaths::findExecutable("trayer").isEmpty())
            QSKIP("trayer is not installed (scripts/bootstrap installs it)");
    }

    // On a bare X server the library window's menu bar carries the quick-save button and the
    // tray's menu; the button opens the panel under itself. A tray that starts later shows
    // the icon and the stand-ins step aside; when it goes, they come back.
    void standsInWhileThereIsNoTray() {
        TestState::reset();
        FakePlatform::install();
        StatusItem item(std::make_shared<IdleClient>());
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        layout->setMenuBar(buildMainMenu());
        auto* bar = static_cast<QMenuBar*>(layout->menuBar());
        TrayStandIn standIn(item, bar);
        window.resize(600, 400);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QVERIFY(!item.hasTray());
        QVERIFY(standIn.button()->isVisible());
        QCOMPARE(titles(bar->actions()),
                 QStringList({"Pinlark", "File", "Edit", "View", "Window"}));
        const std::unique_ptr<QMenu> trayMenu(item.buildMenu());
        QCOMPARE(titles(standIn.menu()->actions()), titles(trayMenu->actions()));
        QCOMPARE(standIn.menu()->actions().last()->shortcut(), QKeySequence());

        QTest::mouseClick(standIn.button(), Qt::LeftButton);
        QVERIFY(item.popover()->isVisible());
        const QRect button(standIn.button()->mapToGlobal(QPoint(0, 0)), standIn.button()->size());
        QVERIFY(item.popover()->geometry().top() > button.bottom());
        QVERIFY(item.popover()->geometry().intersects(window.geometry()));
        item.closePopover();

        QSignalSpy changes(&item, &StatusItem::trayAvailabilityChanged);
        QProcess trayer;
        trayer.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "request"});
        QTRY_VERIFY_WITH_TIMEOUT(item.hasTray(), 20000);
        QVERIFY(!standIn.button()->isVisible());
        QVERIFY(!standIn.menu()->menuAction()->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!item.tray()->geometry().isEmpty(), 20000);

        trayer.kill();
        trayer.waitForFinished();
        QTRY_VERIFY_WITH_TIMEOUT(!item.hasTray(), 20000);
        QVERIFY(standIn.button()->isVisible());
        QVERIFY(standIn.menu()->menuAction()->isVisible());
        QCOMPARE(changes, (QList<QVariantList>{{true}, {false}}));
        Platform::reset();
        TestState::reset();
    }
};

int main(int argc, char** argv) {
    XvfbServer xvfb;
    server = &xvfb;
    xvfb.useForApp();
    QApplication app(argc, argv);
    TestNoTray test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_notray.moc"
