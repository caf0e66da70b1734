#include "menubar/TrayHost.h"

#include "menubar/XEmbedIcon.h"
#include "platform/Desktop.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QMenu>
#include <QTimer>
#include <QWindow>

namespace pinlark {

TrayHost::TrayHost(QMenu* menu, QObject* parent)
    : QObject(parent)
    , m_menu(menu) {}

TrayHost::~TrayHost() = default;

void TrayHost::start() {
    m_hasTray = Desktop::trayAvailable();
    if (m_hasTray || !Desktop::onWayland())
        makeTray(QGuiApplication::platformName() == QLatin1String("xcb") || m_hasTray);
    watchTrays();
}

void TrayHost::watchTrays() {
    // An XEmbed tray manager that takes or leaves the screen: the xcb plugin's native interface
    // says so with a signal of its own, reached by name as its class is not public; other
    // platforms have no such signal. Its base class is QObject alone, so the pointer is the
    // QObject's.
    auto* native = reinterpret_cast<QObject*>(QGuiApplication::platformNativeInterface());
    if (native && QGuiApplication::platformName() == QLatin1String("xcb") &&
        native->metaObject()->indexOfSignal("systemTrayWindowChanged(QScreen*)") >= 0)
        connect(native, SIGNAL(systemTrayWindowChanged(QScreen*)), this,
                SLOT(updateTrayAvailability()));
    // A StatusNotifierItem watcher that starts or stops on the session bus, and a host that
    // registers with it.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        const QString watcher = Desktop::statusNotifierWatcher();
        m_trayHosts =
            new QDBusServiceWatcher(watcher, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(m_trayHosts, &QDBusServiceWatcher::serviceOwnerChanged, this,
                &TrayHost::updateTrayAvailability);
        bus.connect(watcher, QStringLiteral("/StatusNotifierWatcher"), watcher,
                    QStringLiteral("StatusNotifierHostRegistered"), this,
                    SLOT(updateTrayAvailability()));
    }
}

void TrayHost::makeTray(bool show) {
    if (Desktop::docksIconItself()) {
        m_dock = std::make_unique<XEmbedIcon>();
        connect(m_dock.get(), &XEmbedIcon::activated, this, &TrayHost::activated);
        // The shell's tray may start after the app, as at login, or anew.
        connect(m_dock.get(), &XEmbedIcon::trayManagerStarted, this, [this] {
            m_dock->dock();
            updateTrayAvailability();
        });
        Q_EMIT iconMade();
        if (show)
            m_dock->dock();
        return;
    }
    m_tray = std::make_unique<QSystemTrayIcon>();
    m_tray->setContextMenu(m_menu);
    connect(m_tray.get(), &QSystemTrayIcon::activated, this, &TrayHost::activated);
    Q_EMIT iconMade();
    if (show)
        m_tray->show();
}

void TrayHost::updateTrayAvailability() {
    const bool available = Desktop::trayAvailable();
    if (available == m_hasTray)
        return;
    m_hasTray = available;
    // Qt chooses between a StatusNotifierItem host and the XEmbed tray when the icon is made.
    // Outside X11 only a host can show it: the icon is made anew each time one comes.
    if (available && QGuiApplication::platformName() != QLatin1String("xcb"))
        makeTray(true);
    Q_EMIT availabilityChanged(available);
}

QRect TrayHost::iconGeometry() const {
    if (m_dock)
        return m_dock->globalGeometry();
    return m_tray ? m_tray->geometry() : QRect();
}

void TrayHost::setIcon(const QIcon& icon) {
    if (m_tray)
        m_tray->setIcon(icon);
    if (m_dock)
        m_dock->setIcon(icon);
}

void TrayHost::setToolTip(const QString& tip) {
    if (m_tray)
        m_tray->setToolTip(tip);
    if (m_dock)
        m_dock->setToolTip(tip);
}

void TrayHost::popUpMenu(const QPoint& at) {
    if (!Desktop::throughXwayland()) {
        m_menu->popup(at);
        return;
    }
    // Through Xwayland a pop-up opened while a Wayland window has the keyboard closes at once,
    // and which has it is not always known: a window of one pixel at the menu's corner takes the
    // keyboard first, for as long as the menu is open.
    if (!m_menuHost) {
        m_menuHost = std::make_unique<QWidget>(nullptr, Qt::Tool | Qt::FramelessWindowHint);
        m_menuHost->setAttribute(Qt::WA_TranslucentBackground);
        m_menuHost->setFixedSize(1, 1);
        m_menuHost->winId(); // its window, to watch
        // Once what the menu's row opens has asked for the keyboard, while the app holds it.
        connect(m_menu, &QMenu::aboutToHide, m_menuHost.get(),
                [this] { QTimer::singleShot(0, m_menuHost.get(), &QWidget::hide); });
        connect(m_menuHost->windowHandle(), &QWindow::activeChanged, this, [this] {
            if (m_menuHost->windowHandle()->isActive() && m_menuHost->isVisible() &&
                !m_menu->isVisible() && std::exchange(m_menuWanted, false))
                m_menu->popup(m_menuHost->pos());
        });
    }
    m_menuWanted = true;
    m_menuHost->move(at);
    m_menuHost->show();
    m_menuHost->activateWindow();
}

} // namespace pinlark
