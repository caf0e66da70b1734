#include "menubar/Hotkey.h"
#include "platform/Platform.h"
#include "platform/linux/X11HotKeyService.h"
#include "support/TestSupport.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QThread>
#include <QtTest>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace pinlark;

namespace {

// A private X server for this test process. Xvfb picks a free display number itself and
// writes it to a pipe once it accepts connections (-displayfd), so parallel runs never clash.
class XvfbServer {
public:
    XvfbServer() {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty()) {
            m_problem = "Xvfb is not installed (scripts/bootstrap installs it)";
            return;
        }
        int fds[2];
        if (pipe(fds) != 0) {
            m_problem = "no pipe for Xvfb";
            return;
        }
        fcntl(fds[0], F_SETFD, FD_CLOEXEC);
        const QByteArray program = xvfb.toLocal8Bit();
        const QByteArray fd = QByteArray::number(fds[1]);
        const char* argv[] = {program.constData(), "-displayfd", fd.constData(), "-nolisten", "tcp",
                              "-screen",           "0",          "640x480x24",   nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const int spawned = posix_spawn(&m_pid, program.constData(), &actions, nullptr,
                                        const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        if (spawned != 0) {
            m_pid = -1;
            close(fds[0]);
            m_problem = "Xvfb could not be started";
            return;
        }
        // A watchdog for a server that never comes up, not a timing assertion.
        QByteArray number;
        pollfd p{fds[0], POLLIN, 0};
        char c = 0;
        while (poll(&p, 1, 20000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n')
            number.append(c);
        close(fds[0]);
        if (number.isEmpty() || c != '\n') {
            m_problem = "Xvfb did not report a display";
            return;
        }
        m_display = ":" + number;
    }
    ~XvfbServer() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    bool running() const { return !m_display.isEmpty(); }
    QByteArray display() const { return m_display; }
    const char* problem() const { return m_problem; }

private:
    pid_t m_pid = -1;
    QByteArray m_display;
    const char* m_problem = nullptr;
};

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

// Another X client that takes S under any modifiers before the app can.
class RivalClient {
public:
    RivalClient()
        : m_c(xcb_connect(nullptr, nullptr)) {
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root;
        xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(m_c);
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, 0x0073 /* s */);
        m_keycode = codes ? codes[0] : 0;
        std::free(codes);
        xcb_key_symbols_free(symbols);
    }
    ~RivalClient() { xcb_disconnect(m_c); }
    bool grab() {
        xcb_generic_error_t* error =
            xcb_request_check(m_c, xcb_grab_key_checked(m_c, 1, m_root, XCB_MOD_MASK_ANY, m_keycode,
                                                        XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        std::free(error);
        return m_keycode != 0 && !error;
    }
    void release() {
        xcb_ungrab_key(m_c, m_keycode, m_root, XCB_MOD_MASK_ANY);
        std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr));
    }
    int keyPresses() {
        std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr));
        int presses = 0;
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_c)) {
            presses += (event->response_type & 0x7f) == XCB_KEY_PRESS;
            std::free(event);
        }
        return presses;
    }

private:
    xcb_connection_t* m_c;
    xcb_window_t m_root = 0;
    xcb_keycode_t m_keycode = 0;
};

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
            QSKIP(server->problem());
        if (QStandardPaths::findExecutable("xdotool").isEmpty())
            QSKIP("xdotool is not installed (scripts/bootstrap installs it)");
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
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

    void pressRunsTheActionOnceOnTheMainThread_data() {
        QTest::addColumn<QStringList>("locks");
        QTest::newRow("no lock") << QStringList();
        QTest::newRow("Caps Lock on") << QStringList{"Caps_Lock"};
        QTest::newRow("Num Lock on") << QStringList{"Num_Lock"};
        QTest::newRow("both on") << QStringList{"Caps_Lock", "Num_Lock"};
    }
    void pressRunsTheActionOnceOnTheMainThread() {
        QFETCH(QStringList, locks);
        Hotkey::registerAction(record("toggle"));
        QVERIFY(m_hotKeys->granted);

        if (!locks.isEmpty())
            sendKeys(locks);
        sendKeys({"alt+super+s"});
        if (!locks.isEmpty())
            sendKeys(locks); // back off for the next row

        QTRY_COMPARE(m_ran.size(), 1);
        syncWithServer();
        QCOMPARE(m_ran, QStringList{"toggle"});
        QCOMPARE(m_threads.first(), QCoreApplication::instance()->thread());
    }

    void otherKeysDoNotRunTheAction() {
        Hotkey::registerAction(record("toggle"));
        sendKeys({"super+s", "alt+s", "ctrl+alt+super+s", "alt+super+a"});
        syncWithServer();
        QVERIFY(m_ran.isEmpty());
        sendKeys({"alt+super+s"});
        QTRY_COMPARE(m_ran, QStringList{"toggle"});
    }

    void registeringTwiceKeepsOneGrabAndRunsTheLatestAction() {
        Hotkey::registerAction(record("first"));
        Hotkey::registerAction(record("second"));
        QCOMPARE(m_hotKeys->calls, 1);

        // The app holds the grab: another client cannot take it.
        RivalClient rival;
        QVERIFY(!rival.grab());

        sendKeys({"alt+super+s"});
        QTRY_COMPARE(m_ran.size(), 1);
        syncWithServer();
        QCOMPARE(m_ran, QStringList{"second"});
    }

    void grabHeldByAnotherClientFailsSilently() {
        RivalClient rival;
        QVERIFY(rival.grab());

        Hotkey::registerAction(record("toggle"));
        QCOMPARE(m_hotKeys->calls, 1);
        QVERIFY(!m_hotKeys->granted);

        sendKeys({"alt+super+s"});
        QCOMPARE(rival.keyPresses(), 1);
        syncWithServer();
        QVERIFY(m_ran.isEmpty());

        // Once the other client lets go, the next registration takes the shortcut.
        rival.release();
        Hotkey::registerAction(record("later"));
        QCOMPARE(m_hotKeys->calls, 2);
        QVERIFY(m_hotKeys->granted);
        sendKeys({"alt+super+s"});
        QTRY_COMPARE(m_ran, QStringList{"later"});
    }

    // Holding the shortcut runs the action once, however long the server repeats the key; the
    // next press runs it again.
    void holdRunsTheActionOnce() {
        Hotkey::registerAction(record("toggle"));
        PressCounter presses;
        const auto release = qScopeGuard([] { xdotool({"keyup", "alt+super+s"}); });

        xdotool({"keydown", "alt+super+s"});
        QTRY_VERIFY_WITH_TIMEOUT(presses.count >= 3, 20000);
        xdotool({"keyup", "alt+super+s"});
        syncWithServer();
        QCOMPARE(m_ran, QStringList{"toggle"});

        sendKeys({"alt+super+s"});
        QTRY_COMPARE(m_ran.size(), 2);
    }

private:
    // Counts the key presses that reach the app, repeats included.
    struct PressCounter : QAbstractNativeEventFilter {
        PressCounter() { QCoreApplication::instance()->installNativeEventFilter(this); }
        ~PressCounter() override { QCoreApplication::instance()->removeNativeEventFilter(this); }
        bool nativeEventFilter(const QByteArray&, void* message, qintptr*) override {
            count +=
                (static_cast<xcb_generic_event_t*>(message)->response_type & 0x7f) == XCB_KEY_PRESS;
            return false;
        }
        int count = 0;
    };

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

    static void sendKeys(const QStringList& keys) {
        QProcess xdotool;
        xdotool.start("xdotool", QStringList{"key"} + keys);
        QVERIFY(xdotool.waitForFinished(20000));
        QCOMPARE(xdotool.exitCode(), 0);
    }

    CountingHotKeys* m_hotKeys = nullptr;
    QStringList m_ran;
    QList<QThread*> m_threads;
};

int main(int argc, char** argv) {
    XvfbServer xvfb;
    server = &xvfb;
    if (xvfb.running()) {
        qputenv("DISPLAY", xvfb.display());
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    QGuiApplication app(argc, argv);
    TestX11HotKey test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_x11hotkey.moc"
