#include "menubar/Hotkey.h"
#include "platform/Platform.h"
#include "platform/linux/X11HotKeyService.h"
#include "support/TestSupport.h"
#include "support/Xvfb.h"

#include <QGuiApplication>
#include <QProcess>
#include <QThread>

#include <xcb/xcb.h>

#include <cstdlib>

using namespace pinlark;

namespace {

XvfbServer* server = nullptr;

xcb_connection_t* appConnection() {
    return qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

// A round trip to the server, then the app's queued events: whatever the server sent before
// has been handled afterwards.
void syncWithServer() {
    xcb_connection_t* c = appConnection();
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

} // namespace

class TestX11HotKey : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        // scripts/bootstrap installs Xvfb and xdotool: missing, they fail the test, never skip it.
        QVERIFY2(server->running(), "Xvfb did not start");
        QCOMPARE(QGuiApplication::platformName(), u"xcb"_s);
    }

    void init() {
        TestState::reset();
        Platform::Services s;
        s.hotKeys = std::make_unique<X11HotKeyService>();
        Platform::install(std::move(s));
        m_ran.clear();
    }
    void cleanup() {
        Platform::reset(); // ungrabs
        TestState::reset();
    }

    // Alt+Super+L runs the action once, on the main thread, whatever the lock keys; other
    // combinations of L, and the keys of the desktops' screen readers, do not.
    void press_data() {
        QTest::addColumn<QStringList>("locks");
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<int>("runs");
        const QStringList shortcut{"alt+super+l"};
        QTest::newRow("no lock") << QStringList() << shortcut << 1;
        QTest::newRow("both locks on") << QStringList{"Caps_Lock", "Num_Lock"} << shortcut << 1;
        QTest::newRow("other keys")
            << QStringList() << QStringList{"super+l", "alt+l", "ctrl+alt+super+l", "alt+super+s"}
            << 0;
    }
    void press() {
        QFETCH(QStringList, locks);
        QFETCH(QStringList, keys);
        QFETCH(int, runs);
        Hotkey::registerAction([this] { m_ran.append(QThread::currentThread()); });
        // The locks go back off for the next row.
        sendKeys(locks + keys + locks);
        if (runs)
            QTRY_COMPARE(m_ran.size(), runs);
        syncWithServer();
        QCOMPARE(m_ran, QList<QThread*>(runs, thread()));
    }

private:
    static void sendKeys(const QStringList& keys) {
        QProcess xdotool;
        xdotool.start("xdotool", QStringList{"key"} + keys);
        QVERIFY(xdotool.waitForFinished(20000));
        QCOMPARE(xdotool.exitCode(), 0);
    }

    QList<QThread*> m_ran; // where each run of the action ran
};

int main(int argc, char** argv) {
    XvfbServer xvfb;
    server = &xvfb;
    xvfb.useForApp();
    QGuiApplication app(argc, argv);
    TestX11HotKey test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_x11hotkey.moc"
