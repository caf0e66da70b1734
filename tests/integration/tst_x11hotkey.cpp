#include "menubar/Hotkey.h"
#include "platform/Platform.h"
#include "platform/linux/X11HotKeyService.h"
#include "support/TestSupport.h"
#include "support/Xvfb.h"

#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QtTest>

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

// The X11 service with a count of the registrations asked of it.
class CountingHotKeys : public X11HotKeyService {
public:
    bool registerHotKey(std::function<void()> pressed) override {
        ++calls;
        granted = X11HotKeyService::registerHotKey(std::move(pressed));
        return granted;
    }
    int calls = 0;
    bool granted = false;
};

} // namespace

class TestX11HotKey : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        if (!server->running())
            QSKIP("Xvfb did not start (scripts/bootstrap installs it)");
        if (QStandardPaths::findExecutable("xdotool").isEmpty())
            QSKIP("xdotool is not installed (scripts/bootstrap installs it)");
        QCOMPARE(QGuiApplication::platformName(), u"xcb"_s);
    }

    void init() {
        TestState::reset();
        Platform::Services s;
        auto hotKeys = std::make_unique<CountingHotKeys>();
        m_hotKeys = hotKeys.get();
        s.hotKeys = std::move(hotKeys);
        Platform::install(std::move(s));
        m_ran.clear();
        m_threads.clear();
    }
    void cleanup() {
        Platform::reset(); // ungrabs
        TestState::reset();
    }

    // Alt+Super+S runs the action once, on the main thread, whatever the lock keys; other
    // combinations of S do not.
    void press_data() {
        QTest::addColumn<QStringList>("locks");
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<int>("runs");
        const QStringList shortcut{"alt+super+s"};
        QTest::newRow("no lock") << QStringList() << shortcut << 1;
        QTest::newRow("both locks on") << QStringList{"Caps_Lock", "Num_Lock"} << shortcut << 1;
        QTest::newRow("other keys")
            << QStringList() << QStringList{"super+s", "alt+s", "ctrl+alt+super+s", "alt+super+a"}
            << 0;
    }
    void press() {
        QFETCH(QStringList, locks);
        QFETCH(QStringList, keys);
        QFETCH(int, runs);
        Hotkey::registerAction(record("toggle"));
        QVERIFY(m_hotKeys->granted);
        if (!locks.isEmpty())
            sendKeys(locks);
        sendKeys(keys);
        if (!locks.isEmpty())
            sendKeys(locks); // back off for the next row
        if (runs)
            QTRY_COMPARE(m_ran.size(), runs);
        syncWithServer();
        QCOMPARE(m_ran, QStringList(runs, "toggle"));
        if (runs)
            QCOMPARE(m_threads.first(), QCoreApplication::instance()->thread());
    }

private:
    static void xdotool(const QStringList& args) {
        QProcess xdotool;
        xdotool.start("xdotool", args);
        QVERIFY(xdotool.waitForFinished(20000));
        QCOMPARE(xdotool.exitCode(), 0);
    }

    std::function<void()> record(const char* name) {
        return [this, name] {
            m_ran.append(QLatin1String(name));
            m_threads.append(QThread::currentThread());
        };
    }

    static void sendKeys(const QStringList& keys) { xdotool(QStringList{"key"} + keys); }

    CountingHotKeys* m_hotKeys = nullptr;
    QStringList m_ran;
    QList<QThread*> m_threads;
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
