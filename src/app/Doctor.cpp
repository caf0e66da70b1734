#include "app/Doctor.h"

#include "Product.h"
#include "app/CommandLine.h"
#include "app/SingleInstance.h"
#include "platform/BundleLocation.h"
#include "platform/Desktop.h"
#include "platform/Platform.h"
#include "platform/linux/AutostartLoginItemService.h"
#include "platform/linux/FileUserDefaults.h"
#include "platform/linux/GnomeShortcuts.h"
#include "platform/qt/DesktopServices.h"
#include "quicksave/Outbox.h"
#include "service/Config.h"
#include "update/Installer.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStandardPaths>
#include <QTimer>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace pinlark::Doctor {

namespace {

const QString notifications = QStringLiteral("org.freedesktop.Notifications");

void print(const char* topic, const QString& text) {
    std::printf("%-15s %s\n", topic, text.toLocal8Bit().constData());
}

// The name of the process at the other end of the Wayland socket, where it can be read.
QString compositorName(const QByteArray& display) {
    QString path = QString::fromLocal8Bit(display);
    if (!path.startsWith(QLatin1Char('/')))
        path = QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR")) + QLatin1Char('/') + path;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray encoded = QFile::encodeName(path);
    if (fd < 0 || size_t(encoded.size()) >= sizeof(address.sun_path))
        return {};
    std::copy(encoded.begin(), encoded.end(), address.sun_path);
    ucred peer{};
    socklen_t length = sizeof(peer);
    QString name;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(peer.pid));
        if (comm.open(QIODevice::ReadOnly))
            name = QString::fromLocal8Bit(comm.readAll().trimmed());
    }
    ::close(fd);
    return name;
}

// What an X server says: its window manager's name and whether an XEmbed tray holds the
// selection of the default screen. Empty when there is no X server to ask.
struct X11Facts {
    bool connected = false;
    QString windowManager;
    bool tray = false;
};

X11Facts askX11() {
    X11Facts facts;
    int screen = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screen);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return facts;
    }
    facts.connected = true;
    const auto atom = [c](const QByteArray& name) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            c, xcb_intern_atom(c, 0, uint16_t(name.size()), name.constData()), nullptr);
        const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return a;
    };
    xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
        c, xcb_get_selection_owner(c, atom("_NET_SYSTEM_TRAY_S" + QByteArray::number(screen))),
        nullptr);
    facts.tray = owner && owner->owner != XCB_WINDOW_NONE;
    std::free(owner);
    auto it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screen && it.rem; ++i)
        xcb_screen_next(&it);
    const auto property = [c](xcb_window_t window, xcb_atom_t name, xcb_atom_t type) {
        xcb_get_property_reply_t* reply =
            xcb_get_property_reply(c, xcb_get_property(c, 0, window, name, type, 0, 256), nullptr);
        QByteArray value;
        if (reply)
            value = QByteArray(static_cast<const char*>(xcb_get_property_value(reply)),
                               xcb_get_property_value_length(reply));
        std::free(reply);
        return value;
    };
    const QByteArray check =
        property(it.data->root, atom("_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW);
    if (check.size() == sizeof(xcb_window_t)) {
        xcb_window_t wm = 0;
        std::memcpy(&wm, check.constData(), sizeof(wm));
        facts.windowManager =
            QString::fromUtf8(property(wm, atom("_NET_WM_NAME"), atom("UTF8_STRING")));
    }
    xcb_disconnect(c);
    return facts;
}

bool onBus(const QString& name) {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface()->isServiceRegistered(name).value();
}

// What takes the shortcut, as the doctor names it.
QString keyGrabText(Desktop::KeyGrab grab) {
    switch (grab) {
    case Desktop::KeyGrab::X11:
        return QStringLiteral("the X11 key grab");
    case Desktop::KeyGrab::Portal:
        return QStringLiteral("the desktop portal");
    case Desktop::KeyGrab::None:
        break;
    }
    return QStringLiteral("none (set a key in the desktop's settings to run %1 --toggle-library)")
        .arg(CommandLine::program());
}

// Whether the session bus starts `name` when a message is sent to it.
bool startsOnDemand(const QString& name) {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface()->activatableServiceNames().value().contains(name);
}

// The status the running copy gives, "topic<TAB>text" a line.
QMap<QString, QString> runningCopy() {
    QMap<QString, QString> status;
    SingleInstance instance;
    if (const auto text = instance.queryStatus()) {
        for (const QString& line : text->split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            status.insert(line.section(QLatin1Char('\t'), 0, 0),
                          line.section(QLatin1Char('\t'), 1));
        status.insert(QStringLiteral("running"), QStringLiteral("yes"));
    }
    return status;
}

// The origin's answer to a HEAD request within five seconds.
QString originAnswer(const QUrl& origin) {
    QNetworkAccessManager network;
    network.setTransferTimeout(5000);
    QNetworkReply* reply = network.head(QNetworkRequest(origin));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    reply->deleteLater();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status > 0)
        return QStringLiteral("answers (HTTP %1)").arg(status);
    return QStringLiteral("does not answer (%1): check the network, or the \"origin\" "
                          "preference in %2")
        .arg(reply->errorString(), FileUserDefaults::standardPath());
}

} // namespace

int run(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Platform::Services services;
    services.defaults =
        std::make_unique<FileUserDefaults>(FileUserDefaults::standardPath(), /*readOnly=*/true);
    services.bundle = std::make_unique<ExecutableBundle>();
    services.loginItems = std::make_unique<AutostartLoginItemService>();
    Platform::install(std::move(services));
    std::printf("Pinlark %s on this desktop\n", Product::version);

    const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
    const X11Facts x11 = askX11();
    if (!wayland.isEmpty()) {
        const QString name = compositorName(wayland);
        print("display",
              QStringLiteral("Wayland (%1)")
                      .arg(name.isEmpty() ? QStringLiteral("compositor unknown") : name) +
                  (x11.connected ? QStringLiteral(", X11 through XWayland") : QString()));
    } else if (x11.connected) {
        print("display", QStringLiteral("X11 (%1)")
                             .arg(x11.windowManager.isEmpty() ? QStringLiteral("no window manager")
                                                              : x11.windowManager));
    } else {
        print("display", QStringLiteral("none: run Pinlark inside a desktop session (neither "
                                        "WAYLAND_DISPLAY nor an X server answers)"));
    }

    switch (Desktop::trayFor(x11.tray)) {
    case Desktop::Tray::GnomeShell:
        print("tray", QStringLiteral("GNOME Shell's X11 tray (its AppIndicator extension), where "
                                     "Pinlark docks its icon"));
        break;
    case Desktop::Tray::StatusNotifierItem:
        print("tray", QStringLiteral("StatusNotifierItem host (%1 on the session bus)")
                          .arg(Desktop::statusNotifierWatcher()));
        break;
    case Desktop::Tray::XEmbed:
        print("tray", QStringLiteral("XEmbed tray on the X server"));
        break;
    case Desktop::Tray::None:
        print("tray", QStringLiteral("none: the library window's Quick Save button stands in; for "
                                     "an icon, add a tray (GNOME: the AppIndicator extension, "
                                     "gnome-shell-extension-appindicator)"));
        break;
    }

    const QMap<QString, QString> copy = runningCopy();
    if (copy.contains(QStringLiteral("shortcut")))
        print("shortcut", copy.value(QStringLiteral("shortcut")));
    else
        print("shortcut",
              QStringLiteral("Pinlark is not running; it would use %1")
                  .arg(keyGrabText(Desktop::keyGrab(!wayland.isEmpty() ? QStringLiteral("wayland")
                                                    : x11.connected    ? QStringLiteral("xcb")
                                                                       : QString()))));

    if (GnomeShortcuts::available()) {
        QStringList ours;
        const QString program = Platform::bundle().executablePath();
        for (const GnomeShortcuts::Shortcut& shortcut : GnomeShortcuts::custom())
            for (const char* argument : {"--toggle-library", "--quick-save"})
                if (GnomeShortcuts::runs(shortcut.command, program, QLatin1String(argument)))
                    ours << QStringLiteral("%1 runs Pinlark %2")
                                .arg(shortcut.binding.isEmpty()
                                         ? QStringLiteral("no keys")
                                         : GnomeShortcuts::keysText(shortcut.binding),
                                     QLatin1String(argument));
        print("GNOME shortcuts", ours.isEmpty()
                                     ? QStringLiteral("none runs this Pinlark (the panel's \"Set a "
                                                      "shortcut\u2026\" adds one)")
                                     : ours.join(QStringLiteral("; ")));
    }

    if (onBus(notifications))
        print("notifications", QStringLiteral("%1 answers").arg(notifications));
    else if (startsOnDemand(notifications))
        print("notifications",
              QStringLiteral("%1 starts when the first notice comes").arg(notifications));
    else
        print("notifications", QStringLiteral("none: update notices come as windows; install a "
                                              "notification server (the desktop's own, dunst or "
                                              "mako-notifier)"));

    const bool atLogin = Platform::loginItems().status() == LoginItemService::Status::Enabled;
    print("open at login",
          atLogin ? QStringLiteral("yes (%1)").arg(AutostartLoginItemService::entryPath())
                  : QStringLiteral("no (the menu's Open at Login sets it)"));

    print("origin",
          Config::origin().toString() + QStringLiteral(" ") + originAnswer(Config::origin()));
    print("signed in", copy.value(QStringLiteral("signed in"),
                                  QStringLiteral("unknown: start Pinlark, then ask again")));
    // Read as it is: the doctor moves, removes and writes nothing.
    QString outboxError;
    const auto outbox = Outbox::peek(Outbox::standardPath(), &outboxError);
    if (!outbox)
        print("outbox", QStringLiteral("%1 can't be read (%2); Pinlark keeps it aside at its "
                                       "next start")
                            .arg(Outbox::standardPath(), outboxError));
    else if (outbox->entries.isEmpty())
        print("outbox", QStringLiteral("empty"));
    else
        print(
            "outbox",
            QStringLiteral("%1 waiting to be sent, the oldest for %2 min")
                .arg(outbox->entries.size())
                .arg(outbox->entries.first().queued.secsTo(QDateTime::currentDateTimeUtc()) / 60));
    if (outbox) {
        for (const Outbox::Refusal& refusal : outbox->refused)
            print("refused",
                  QStringLiteral("%1 %2: %3")
                      .arg(refusal.when.toString(Qt::ISODate), refusal.url, refusal.reason));
    }
    if (const auto shared = BundleLocation::folderOthersCanChange(Platform::bundle().path()))
        print("app folder",
              QStringLiteral("shared: other users can change %1, so Pinlark adds nothing to the "
                             "launcher, doesn't open at login and doesn't update itself from "
                             "there. Move Pinlark.app into a folder of your own, such as "
                             "~/Applications")
                  .arg(*shared));
    const auto blocker = Installer::blocker();
    print("updates", blocker ? QStringLiteral("blocked: ") + *blocker
                             : QStringLiteral("installs them itself"));
    const QString id = QLatin1String(Product::bundleIdentifier);
    print("folders",
          QStringLiteral("app %1").arg(QDir::toNativeSeparators(Platform::bundle().path())));
    print("", QStringLiteral("preferences %1").arg(FileUserDefaults::standardPath()));
    print("", QStringLiteral("data %1/%2")
                  .arg(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation), id));
    print("", QStringLiteral("cache %1/%2")
                  .arg(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation), id));
    Platform::reset();
    return 0;
}

} // namespace pinlark::Doctor
