#include "QuietSavesClient.h"
#include "TestSupport.h"
#include "app/MainMenu.h"
#include "menubar/StatusItem.h"
#include "menubar/TrayStandIn.h"
#include "platform/fake/FakePlatform.h"
#include "support/Xvfb.h"

#include <QApplication>
#include <QMenuBar>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QVBoxLayout>

using namespace pinlark;

class TestNoTray : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // On a bare X server the library window's menu bar carries the quick-save button and the
    // tray's menu; the button opens the panel under itself. A tray that starts later shows
    // the icon and the stand-ins step aside; when it goes, they come back.
    void standsInWhileThereIsNoTray() {
        // scripts/bootstrap installs both: missing, they fail the test rather than skip it.
        QVERIFY2(qgetenv("QT_QPA_PLATFORM") == "xcb" &&
                     !QStandardPaths::findExecutable("trayer").isEmpty(),
                 "needs Xvfb and trayer");
        FakePlatform::install();
        StatusItem item(std::make_shared<QuietSavesClient>());
        QWidget window;
        (new QVBoxLayout(&window))->setMenuBar(buildMainMenu());
        TrayStandIn standIn(item, static_cast<QMenuBar*>(window.layout()->menuBar()));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QVERIFY(!item.hasTray() && standIn.button()->isVisible());
        // The application menu's Quit holds the key in this window.
        QCOMPARE(standIn.menu()->actions().last()->shortcut(), QKeySequence());
        QTest::mouseClick(standIn.button(), Qt::LeftButton);
        QVERIFY(item.popover()->isVisible());
        QVERIFY(item.popover()->y() > standIn.button()->mapToGlobal(QPoint(0, 0)).y());
        item.closePopover();

        QSignalSpy changes(&item, &StatusItem::trayAvailabilityChanged);
        QProcess trayer;
        trayer.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "request"});
        QTRY_VERIFY_WITH_TIMEOUT(item.hasTray(), 20000);
        QVERIFY(!standIn.button()->isVisible() && !standIn.menu()->menuAction()->isVisible());
        trayer.kill();
        trayer.waitForFinished();
        QTRY_VERIFY_WITH_TIMEOUT(!item.hasTray(), 20000);
        QVERIFY(standIn.button()->isVisible() && standIn.menu()->menuAction()->isVisible());
        QCOMPARE(changes, (QList<QVariantList>{{true}, {false}}));
        Platform::reset();
    }
};

int main(int argc, char** argv) {
    XvfbServer xvfb;
    xvfb.useForApp();
    QApplication app(argc, argv);
    TestNoTray test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_notray.moc"
