#include "platform/Desktop.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QSystemTrayIcon>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace pinlark::Desktop {

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

// Whether XDG_CURRENT_DESKTOP names the desktop `name`, in lower case.
bool isDesktop(const char* name) {
    return qgetenv("XDG_CURRENT_DESKTOP").toLower().split(':').contains(name);
}

// GNOME's AppIndicator extension passes clicks on an icon in its X11 tray as they come. LXQt's
// panel asks a StatusNotifierItem for its icon theme's folder before its icon and shows no icon
// for one that has none, as Qt's has not; its X11 tray shows an icon docked there.
bool docksInX11Tray() {
    return isDesktop("gnome") || isDesktop("lxqt");
}

} // namespace

QString name() {
    return qEnvironmentVariable("XDG_CURRENT_DESKTOP");
}

bool isGnome() {
    return isDesktop("gnome");
}

Display displayFor(const QString& platform) {
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (platform.startsWith(QLatin1String("wayland")))
        return Display::Wayland;
    if (platform == QLatin1String("xcb"))
        return wayland ? Display::X11OnWayland : Display::X11;
    return Display::None;
}

Display display() {
    return displayFor(QGuiApplication::platformName());
}

bool onWayland() {
    return display() == Display::Wayland;
}

bool throughXwayland() {
    return display() == Display::X11OnWayland;
}

QByteArray preferredPlatform() {
    if (isGnome() && !qEnvironmentVariableIsEmpty("DISPLAY"))
        return "xcb";
    return {};
}

bool docksIconItself() {
    return QGuiApplication::platformName() == QLatin1String("xcb") && docksInX11Tray();
}

QString statusNotifierWatcher() {
    return watcherService;
}

bool statusNotifierHostRunning() {
    QDBusMessage get = QDBusMessage::createMethodCall(
        watcherService, QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << watcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(get, QDBus::Block, 2000);
    return reply.type() == QDBusMessage::ReplyMessage &&
           reply.arguments().value(0).value<QDBusVariant>().variant().toBool();
}

bool x11TrayRunning() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c)
        return false;
    const char name[] = "_NET_SYSTEM_TRAY_S0";
    const Reply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, false, sizeof(name) - 1, name), nullptr));
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return false;
    const Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr));
    return owner && owner->owner != XCB_WINDOW_NONE;
}

bool trayAvailable() {
    if (docksIconItself())
        return x11TrayRunning();
    return onWayland() ? statusNotifierHostRunning() : QSystemTrayIcon::isSystemTrayAvailable();
}

Tray trayFor(bool x11Tray) {
    if (docksInX11Tray() && x11Tray)
        return isGnome() ? Tray::GnomeShell : Tray::XEmbed;
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() && bus.interface()->isServiceRegistered(watcherService).value())
        return Tray::StatusNotifierItem;
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && x11Tray)
        return Tray::XEmbed;
    return Tray::None;
}

KeyGrab keyGrab(const QString& platform) {
    // Xwayland hears keys only while one of its own windows has the keyboard: a key grab there
    // would seem to work and never fire. Cinnamon's window manager holds Super by itself (it
    // opens the menu) and keeps the keyboard while it is down, so a grab of keys with Super,
    // as the app's are, never fires there either.
    switch (displayFor(platform)) {
    case Display::X11:
        return isDesktop("x-cinnamon") ? KeyGrab::None : KeyGrab::X11;
    case Display::Wayland:
        return portalOffersShortcuts() ? KeyGrab::Portal : KeyGrab::None;
    case Display::X11OnWayland:
    case Display::None:
        break;
    }
    return KeyGrab::None;
}

QString whyNoKeyGrab(const QString& platform) {
    if (displayFor(platform) == Display::X11OnWayland)
        return QStringLiteral("X11 through XWayland, which sees keys only while one of its windows "
                              "has the focus");
    if (displayFor(platform) == Display::X11 && isDesktop("x-cinnamon"))
        return QStringLiteral("Cinnamon keeps the keys pressed with Super to itself");
    return QStringLiteral("no X11 display, no desktop portal with GlobalShortcuts");
}

bool portalOffersShortcuts() {
    QDBusMessage get = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"),
        QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QStringLiteral("org.freedesktop.portal.GlobalShortcuts") << QStringLiteral("version");
    return QDBusConnection::sessionBus().call(get, QDBus::Block, 2000).type() ==
           QDBusMessage::ReplyMessage;
}

} // namespace pinlark::Desktop
