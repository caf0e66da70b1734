#include "menubar/XEmbedIcon.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace pinlark {

namespace {

// The tray protocol's request that the manager embed a window.
constexpr uint32_t systemTrayRequestDock = 0;
// _XEMBED_INFO: protocol version 0, and "map me once embedded".
constexpr uint32_t xembedInfo[] = {0, 1};
// The icon's side in device-independent pixels: the size of the symbolic icons in GNOME's bar.
constexpr int side = 16;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

xcb_connection_t* connection() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, false, uint16_t(qstrlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The window of the tray manager of the default screen, or none.
xcb_window_t trayManager(xcb_connection_t* c) {
    const xcb_atom_t selection = atom(c, "_NET_SYSTEM_TRAY_S0");
    if (selection == XCB_ATOM_NONE)
        return XCB_WINDOW_NONE;
    const Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr));
    return owner ? owner->owner : xcb_window_t(XCB_WINDOW_NONE);
}

} // namespace

// Unmanaged by the window manager: as a managed window, Qt held the docked icon inside the
// screen's work area, below the shell's bar and so outside the tray's window, when the app had
// started before the shell.
XEmbedIcon::XEmbedIcon(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint) {
    // The name Qt's xcb platform knows its own tray icons by: it gives the window the visual the
    // tray asks for and maps it only once the tray has embedded it (XEMBED_EMBEDDED_NOTIFY).
    setObjectName(QStringLiteral("QSystemTrayIconSys"));
    setAttribute(Qt::WA_QuitOnClose, false);
    setAttribute(Qt::WA_AlwaysShowToolTips);
    // A visual with alpha: trays that composite their icons (GNOME Shell's does) show the bar
    // through the icon's transparent pixels.
    setAttribute(Qt::WA_TranslucentBackground);
    // The tray reads the icon's size from the minimum size in the window's size hints.
    setFixedSize(side, side);
    QCoreApplication::instance()->installNativeEventFilter(this);
}

XEmbedIcon::~XEmbedIcon() {
    QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool XEmbedIcon::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) == XCB_CONFIGURE_NOTIFY) {
        // Inside the tray's window the icon's fills it from the top left corner; Qt may move it
        // to where it would have put a window of its own on the screen.
        const auto* configure = static_cast<const xcb_configure_notify_event_t*>(message);
        xcb_connection_t* c = connection();
        if (c && configure->window == xcb_window_t(internalWinId()) &&
            (configure->x || configure->y) && !globalGeometry().isEmpty()) {
            const uint32_t origin[] = {0, 0};
            xcb_configure_window(c, configure->window,
                                 XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, origin);
            xcb_flush(c);
        }
        return false;
    }
    // A new tray manager says so to every client with a MANAGER message on the root window.
    if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE)
        return false;
    const auto* client = static_cast<const xcb_client_message_event_t*>(message);
    xcb_connection_t* c = connection();
    if (c && client->format == 32 && client->type == atom(c, "MANAGER") &&
        client->data.data32[1] == atom(c, "_NET_SYSTEM_TRAY_S0"))
        Q_EMIT trayManagerStarted();
    return false;
}

bool XEmbedIcon::dock() {
    xcb_connection_t* c = connection();
    const xcb_window_t manager = c ? trayManager(c) : xcb_window_t(XCB_WINDOW_NONE);
    if (manager == XCB_WINDOW_NONE)
        return false;
    // Qt's xcb platform keeps a tray icon's window unmapped until the tray has taken it in. The
    // window's place is inside the tray's: its top left corner, where Qt may not have put it.
    move(0, 0);
    show();
    const auto window = xcb_window_t(winId());
    const xcb_atom_t info = atom(c, "_XEMBED_INFO");
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, info, info, 32, 2, xembedInfo);
    xcb_client_message_event_t request{};
    request.response_type = XCB_CLIENT_MESSAGE;
    request.format = 32;
    request.window = manager;
    request.type = atom(c, "_NET_SYSTEM_TRAY_OPCODE");
    request.data.data32[0] = XCB_CURRENT_TIME;
    request.data.data32[1] = systemTrayRequestDock;
    request.data.data32[2] = window;
    xcb_send_event(c, false, manager, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&request));
    xcb_flush(c);
    return true;
}

void XEmbedIcon::setIcon(const QIcon& icon) {
    m_icon = icon;
    update();
}

QRect XEmbedIcon::globalGeometry() const {
    xcb_connection_t* c = connection();
    if (!c || !internalWinId())
        return {};
    // The tray's window that holds the icon is what the tray shows; the icon's own window may sit
    // anywhere inside it.
    const Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(
        c, xcb_query_tree(c, xcb_window_t(internalWinId())), nullptr));
    if (!tree || tree->parent == tree->root)
        return {};
    // A tray that holds each icon in a top-level window of its own draws the icon elsewhere
    // itself (LXQt's keeps that window off its panel and moves it under the pointer for each
    // click it passes on): where the icon shows is not known.
    const Reply<xcb_query_tree_reply_t> holder(
        xcb_query_tree_reply(c, xcb_query_tree(c, tree->parent), nullptr));
    if (!holder || holder->parent == holder->root)
        return {};
    const Reply<xcb_translate_coordinates_reply_t> at(xcb_translate_coordinates_reply(
        c, xcb_translate_coordinates(c, tree->parent, tree->root, 0, 0), nullptr));
    const Reply<xcb_get_geometry_reply_t> size(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, tree->parent), nullptr));
    if (!at || !size)
        return {};
    // In device pixels; the app's coordinates are device-independent.
    const qreal dpr = devicePixelRatioF();
    return QRectF(at->dst_x / dpr, at->dst_y / dpr, size->width / dpr, size->height / dpr)
        .toRect();
}

void XEmbedIcon::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    m_icon.paint(&painter, rect());
}

void XEmbedIcon::mousePressEvent(QMouseEvent* event) {
    switch (event->button()) {
    case Qt::LeftButton:
        Q_EMIT activated(QSystemTrayIcon::Trigger);
        break;
    case Qt::RightButton:
        Q_EMIT activated(QSystemTrayIcon::Context);
        break;
    case Qt::MiddleButton:
        Q_EMIT activated(QSystemTrayIcon::MiddleClick);
        break;
    default:
        break;
    }
}

} // namespace pinlark
