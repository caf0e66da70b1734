// Start-up, reaction and idle cost of Pinlark.app as the X server sees it. Starts a private Xvfb
// with trayer, the stand-in service and the app in a temporary home, and reports:
//   - process start to the tray icon's first paint, the library window's first paint and the
//     library page's title;
//   - a click on the tray icon to the panel mapped and painted (several rounds);
//   - the wake-ups of every thread of the app and its helpers over IDLE seconds, counted from
//     ten seconds after the library window was hidden with the shortcut, as a signed-in user's
//     app sits most of the day (the saves page loaded, then hidden), and the proportional
//     memory (PSS) of the app and its helper processes, shown and hidden.
// Start to tray is also given as a ratio to a bare Qt tray icon (tray_baseline) started just
// before in the same tray, so that a loaded machine shows in both figures.
//
//   build/bench/bench_startup [--cold] [IDLE_SECONDS]      (default 60)
//   --cold: the page cache is dropped before each of the two starts (as root)

#include "support/DevService.h"
#include "support/Xvfb.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <xcb/damage.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <thread>
#include <vector>

using namespace pinlark;
using namespace std::chrono_literals;
using Time = std::chrono::steady_clock::time_point;

namespace {

Time now() {
    return std::chrono::steady_clock::now();
}
double ms(Time from, Time to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// What the X server tells about the app's windows: top-level windows created, mapped, painted
// (first damage after each map), the one window docked into the tray, and titles.
class Screen {
public:
    explicit Screen(const QByteArray& display) {
        m_c = xcb_connect(display.constData(), nullptr);
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_c, m_root, XCB_CW_EVENT_MASK, &mask);
        m_damageEvent = xcb_get_extension_data(m_c, &xcb_damage_id)->first_event;
        std::free(
            xcb_damage_query_version_reply(m_c, xcb_damage_query_version(m_c, 1, 1), nullptr));
        m_keys = xcb_key_symbols_alloc(m_c);
        xcb_flush(m_c);
    }
    ~Screen() {
        xcb_key_symbols_free(m_keys);
        xcb_disconnect(m_c);
    }

    struct Window {
        Time mapped{};
        std::optional<Time> painted;
        bool viewable = false;
        int width = 0;
        QByteArray title;
        std::optional<Time> titled;
    };
    std::map<xcb_window_t, Window> windows;
    xcb_window_t trayIcon = 0;

    // Handles events until `done` holds or `timeout` passes; false on time-out.
    bool until(const std::function<bool()>& done, std::chrono::milliseconds timeout = 30s) {
        const Time deadline = now() + timeout;
        while (!done()) {
            xcb_generic_event_t* event = xcb_poll_for_event(m_c);
            if (!event) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now());
                if (left <= 0ms)
                    return false;
                pollfd p{xcb_get_file_descriptor(m_c), POLLIN, 0};
                ::poll(&p, 1, int(std::min<long long>(left.count(), 100)));
                continue;
            }
            handle(event);
            std::free(event);
        }
        return true;
    }

    void click(xcb_window_t window) {
        auto* tree = xcb_translate_coordinates_reply(
            m_c, xcb_translate_coordinates(m_c, window, m_root, 0, 0), nullptr);
        auto* geometry = xcb_get_geometry_reply(m_c, xcb_get_geometry(m_c, window), nullptr);
        const int16_t x = int16_t(tree->dst_x + geometry->width / 2);
        const int16_t y = int16_t(tree->dst_y + geometry->height / 2);
        std::free(tree);
        std::free(geometry);
        xcb_test_fake_input(m_c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, m_root, x, y, 0);
        xcb_test_fake_input(m_c, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_test_fake_input(m_c, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_flush(m_c);
    }
    // Presses the keys (X key symbols) together, then lets go of them.
    void keys(std::initializer_list<xcb_keysym_t> symbols) {
        std::vector<xcb_keycode_t> codes;
        for (xcb_keysym_t symbol : symbols) {
            xcb_keycode_t* code = xcb_key_symbols_get_keycode(m_keys, symbol);
            codes.push_back(code ? code[0] : 0);
            std::free(code);
        }
        for (xcb_keycode_t code : codes)
            xcb_test_fake_input(m_c, XCB_KEY_PRESS, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        for (auto it = codes.rbegin(); it != codes.rend(); ++it)
            xcb_test_fake_input(m_c, XCB_KEY_RELEASE, *it, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_flush(m_c);
    }
    void focus(xcb_window_t window) {
        xcb_set_input_focus(m_c, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
        xcb_flush(m_c);
    }
    bool hasTray() {
        auto* atom =
            xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 0, 19, "_NET_SYSTEM_TRAY_S0"), nullptr);
        auto* owner = xcb_get_selection_owner_reply(
            m_c, xcb_get_selection_owner(m_c, atom ? atom->atom : 0), nullptr);
        const bool found = owner && owner->owner != XCB_NONE;
        std::free(atom);
        std::free(owner);
        return found;
    }

private:
    void handle(xcb_generic_event_t* event) {
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_CREATE_NOTIFY) {
            // Every new window gets a damage object (and its title watched) before it can draw.
            const auto* e = reinterpret_cast<xcb_create_notify_event_t*>(event);
            xcb_damage_create(m_c, xcb_generate_id(m_c), e->window,
                              XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
            const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
            xcb_change_window_attributes(m_c, e->window, XCB_CW_EVENT_MASK, &mask);
            windows[e->window].width = e->width;
            xcb_flush(m_c);
        } else if (type == XCB_REPARENT_NOTIFY) {
            const auto* e = reinterpret_cast<xcb_reparent_notify_event_t*>(event);
            if (e->parent != m_root && windows.count(e->window)) {
                trayIcon = e->window;
                windows[e->window].mapped = now();
            }
        } else if (type == XCB_MAP_NOTIFY) {
            const auto* e = reinterpret_cast<xcb_map_notify_event_t*>(event);
            Window& w = windows[e->window];
            w.mapped = now();
            w.painted.reset();
            w.viewable = true;
            auto* geometry = xcb_get_geometry_reply(m_c, xcb_get_geometry(m_c, e->window), nullptr);
            if (geometry)
                w.width = geometry->width;
            std::free(geometry);
        } else if (type == XCB_UNMAP_NOTIFY) {
            windows[reinterpret_cast<xcb_unmap_notify_event_t*>(event)->window].viewable = false;
        } else if (type == XCB_PROPERTY_NOTIFY) {
            const auto* e = reinterpret_cast<xcb_property_notify_event_t*>(event);
            if (e->atom == XCB_ATOM_WM_NAME) {
                auto* reply =
                    xcb_get_property_reply(m_c,
                                           xcb_get_property(m_c, 0, e->window, XCB_ATOM_WM_NAME,
                                                            XCB_GET_PROPERTY_TYPE_ANY, 0, 256),
                                           nullptr);
                if (reply) {
                    Window& w = windows[e->window];
                    w.title = QByteArray(static_cast<const char*>(xcb_get_property_value(reply)),
                                         xcb_get_property_value_length(reply));
                    w.titled = now();
                }
                std::free(reply);
            }
        } else if (type == m_damageEvent + XCB_DAMAGE_NOTIFY) {
            const auto* e = reinterpret_cast<xcb_damage_notify_event_t*>(event);
            Window& w = windows[e->drawable];
            if (!w.painted)
                w.painted = now();
            xcb_damage_subtract(m_c, e->damage, XCB_NONE, XCB_NONE);
            xcb_flush(m_c);
        }
    }

    xcb_connection_t* m_c = nullptr;
    xcb_window_t m_root = 0;
    uint8_t m_damageEvent = 0;
    xcb_key_symbols_t* m_keys = nullptr;
};

// The app and every process it started, by pid.
std::vector<qint64> processTree(qint64 app) {
    QMap<qint64, qint64> parents;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        // pid (comm) state ppid …: the command may hold spaces and parentheses.
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1)
            parents.insert(entry.toLongLong(), fields[1].toLongLong());
    }
    std::vector<qint64> tree{app};
    for (size_t i = 0; i < tree.size(); ++i) {
        for (auto it = parents.cbegin(); it != parents.cend(); ++it) {
            if (it.value() == tree[i])
                tree.push_back(it.key());
        }
    }
    return tree;
}

qint64 field(const QString& path, const QByteArray& name) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith(name + ':'))
            return line.mid(name.size() + 1).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}

// Proportional set size of the app and its helpers, in MiB.
double pss(qint64 app) {
    qint64 kb = 0;
    for (qint64 pid : processTree(app))
        kb += field(QStringLiteral("/proc/%1/smaps_rollup").arg(pid), "Pss");
    return kb / 1024.0;
}

// Context switches of every thread: "pid comm" -> count. A thread that sleeps and is woken
// switches out voluntarily once per wake-up.
std::map<QString, qint64> switches(qint64 app) {
    std::map<QString, qint64> counts;
    for (qint64 pid : processTree(app)) {
        const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
        for (const QString& tid : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile comm(tasks + u'/' + tid + QStringLiteral("/comm"));
            comm.open(QIODevice::ReadOnly);
            const QString status = tasks + u'/' + tid + QStringLiteral("/status");
            counts[QStringLiteral("%1 %2 %3")
                       .arg(pid)
                       .arg(tid, QString::fromUtf8(comm.readAll().trimmed()))] =
                field(status, "voluntary_ctxt_switches") +
                field(status, "nonvoluntary_ctxt_switches");
        }
    }
    return counts;
}

int fail(const char* what) {
    std::fprintf(stderr, "bench_startup: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int idleSeconds = 60;
    bool cold = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--cold") == 0)
            cold = true;
        else
            idleSeconds = std::atoi(argv[i]);
    }
    const auto dropCaches = [cold] {
        if (!cold)
            return true;
        ::sync();
        QFile control(QStringLiteral("/proc/sys/vm/drop_caches"));
        return control.open(QIODevice::WriteOnly) && control.write("3\n") == 2;
    };
    const QString bundle = QStringLiteral(PINLARK_APP_PATH);

    const XvfbServer xvfb(QStringLiteral("1280x800x24"));
    const QByteArray display = xvfb.display();
    if (!xvfb.running())
        return fail("Xvfb did not start");
    Screen screen(display);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
    QProcess trayer;
    trayer.setProcessEnvironment(env);
    trayer.start(QStringLiteral("trayer"),
                 {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                  QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("request"),
                  QStringLiteral("--height"), QStringLiteral("32")});
    if (!screen.until([&] { return screen.hasTray(); }, 20s))
        return fail("trayer did not start");

    DevService service;
    if (!service.isRunning())
        return fail("the stand-in service did not start");
    QTemporaryDir home;
    for (const char* name : {"config", "data", "cache", "runtime"})
        QDir(home.path()).mkdir(QLatin1String(name));
    QFile::setPermissions(home.path() + QStringLiteral("/runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.path() + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home.path() + QStringLiteral("/cache"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path() + QStringLiteral("/runtime"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS"), QStringLiteral("--disable-gpu"));
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("qt.webenginecontext=false"));
    if (::getuid() == 0)
        env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    // Signed in: the session as the app keeps it beside the web engine's own store.
    const auto base64 = [](const QString& text) {
        return QString::fromLatin1(text.toUtf8().toBase64());
    };
    QFile cookies(home.path() + QStringLiteral("/config/app.pinlark.Pinlark.cookies.json"));
    cookies.open(QIODevice::WriteOnly);
    cookies.write(
        QJsonDocument(QJsonArray{QJsonObject{
                          {QStringLiteral("name"), base64(QStringLiteral("authjs.session-token"))},
                          {QStringLiteral("value"),
                           base64(service.signIn(QStringLiteral("bench@example.test")))},
                          {QStringLiteral("domain"), service.origin().host()},
                          {QStringLiteral("path"), QStringLiteral("/")},
                          {QStringLiteral("secure"), false},
                          {QStringLiteral("httpOnly"), true},
                          {QStringLiteral("sameSite"), 0}}})
            .toJson());
    cookies.close();
    QProcess defaults;
    defaults.setProcessEnvironment(env);
    defaults.start(bundle + QStringLiteral("/Contents/Helpers/defaults"),
                   {QStringLiteral("write"), QStringLiteral("app.pinlark.Pinlark"),
                    QStringLiteral("origin"), QStringLiteral("-string"),
                    service.origin().toString()});
    defaults.waitForFinished();

    // The yardstick: a bare tray icon from the same glyph, into the same tray.
    double baseline = 0;
    {
        if (!dropCaches())
            return fail("could not drop the page cache (--cold needs root)");
        QProcess bare;
        bare.setProcessEnvironment(env);
        const Time started = now();
        bare.start(QStringLiteral(TRAY_BASELINE_PATH),
                   {bundle + QStringLiteral("/Contents/Resources/MenuBarIcon.png")});
        if (!screen.until(
                [&] { return screen.trayIcon && screen.windows[screen.trayIcon].painted; }))
            return fail("the bare tray icon did not show");
        baseline = ms(started, *screen.windows[screen.trayIcon].painted);
        bare.terminate();
        bare.waitForFinished();
        screen.until([] { return false; }, 3s); // the tray lets go of its icon
        screen.trayIcon = 0;
        screen.windows.clear();
    }

    // Start-up.
    if (!dropCaches())
        return fail("could not drop the page cache (--cold needs root)");
    QProcess pinlark;
    pinlark.setProcessEnvironment(env);
    pinlark.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const Time started = now();
    pinlark.start(bundle + QStringLiteral("/Contents/MacOS/Pinlark"), QStringList());
    xcb_window_t library = 0;
    const bool up = screen.until([&] {
        for (auto& [id, w] : screen.windows) {
            if (w.viewable && w.width >= 500)
                library = id;
        }
        return screen.trayIcon && screen.windows[screen.trayIcon].painted && library &&
               screen.windows[library].painted && screen.windows[library].titled &&
               screen.windows[library].title.startsWith("Saves");
    });
    if (!up)
        return fail("the app did not show its tray icon and the saves page");
    const auto& window = screen.windows[library];
    const double tray = ms(started, *screen.windows[screen.trayIcon].painted);
    if (cold)
        std::printf("cold: the page cache dropped before each start\n");
    std::printf("bare Qt tray icon, start to painted %4.1f ms\n", baseline);
    std::printf("start to tray icon painted       %7.1f ms  (%.2f× the bare tray icon)\n", tray,
                tray / baseline);
    std::printf("start to library window painted  %7.1f ms\n", ms(started, *window.painted));
    std::printf("start to library page titled     %7.1f ms  (\"%s\")\n",
                ms(started, *window.titled), window.title.constData());
    screen.until([] { return false; }, 2s); // lets the page settle

    // Click on the tray icon to the panel painted; Escape closes it again.
    std::vector<double> mapped, painted;
    for (int round = 0; round < 5; ++round) {
        // Clicks closer together than the double-click interval would make a double click.
        screen.until([] { return false; }, 600ms);
        const Time clicked = now();
        screen.click(screen.trayIcon);
        xcb_window_t panel = 0;
        const bool shown = screen.until([&] {
            for (auto& [id, w] : screen.windows) {
                if (id != library && w.viewable && w.mapped > clicked && w.painted)
                    panel = id;
            }
            return panel != 0;
        });
        if (!shown)
            return fail("no panel after a click on the tray icon");
        mapped.push_back(ms(clicked, screen.windows[panel].mapped));
        painted.push_back(ms(clicked, *screen.windows[panel].painted));
        screen.focus(panel);
        screen.keys({0xff1b /* Escape */});
        if (!screen.until([&] { return !screen.windows[panel].viewable; }, 5s))
            return fail("Escape did not close the panel");
    }
    std::sort(mapped.begin(), mapped.end());
    std::sort(painted.begin(), painted.end());
    std::printf("click to panel mapped (median)   %7.1f ms  (of 5: %.1f … %.1f)\n", mapped[2],
                mapped.front(), mapped.back());
    std::printf("click to panel painted (median)  %7.1f ms  (of 5: %.1f … %.1f)\n", painted[2],
                painted.front(), painted.back());

    const qint64 pid = pinlark.processId();
    std::printf("PSS, library window shown        %7.1f MiB in %zu processes\n", pss(pid),
                processTree(pid).size());

    // The library window hidden with the shortcut, then the app left alone.
    screen.focus(library);
    screen.until([] { return false; }, 200ms);
    screen.keys({0xffe9 /* Alt_L */, 0xffeb /* Super_L */, 0x6c /* l */});
    if (!screen.until([&] { return !screen.windows[library].viewable; }, 5s))
        return fail("the shortcut did not hide the library window");
    screen.until([] { return false; }, 10s); // the engine throttles a hidden page after a while
    const auto before = switches(pid);
    screen.until([] { return false; }, std::chrono::seconds(idleSeconds));
    const auto after = switches(pid);
    std::printf("PSS, %3d s after hiding           %7.1f MiB\n", idleSeconds + 10, pss(pid));
    qint64 total = 0;
    std::vector<std::pair<qint64, QString>> busy;
    for (const auto& [thread, count] : after) {
        const auto it = before.find(thread);
        const qint64 woken = count - (it == before.end() ? 0 : it->second);
        total += woken;
        if (woken > 0)
            busy.emplace_back(woken, thread);
    }
    std::sort(busy.rbegin(), busy.rend());
    std::printf("wake-ups over %d s idle, from 10 s after hiding: %lld (pid tid thread: count)\n",
                idleSeconds, static_cast<long long>(total));
    for (const auto& [count, thread] : busy)
        std::printf("  %-48s %6lld\n", qPrintable(thread), static_cast<long long>(count));

    pinlark.terminate();
    pinlark.waitForFinished(10000);
    trayer.terminate();
    trayer.waitForFinished();
    return 0;
}
