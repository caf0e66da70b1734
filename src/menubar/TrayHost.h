#pragma once

#include <QIcon>
#include <QObject>
#include <QRect>
#include <QSystemTrayIcon>
#include <QWidget>

#include <memory>

class QDBusServiceWatcher;
class QMenu;

namespace pinlark {

class XEmbedIcon;

// The app's icon in the desktop's tray, whichever it is: a QSystemTrayIcon, which Qt shows
// through a StatusNotifierItem host or the XEmbed tray, or, where the desktop wants it
// (Desktop::docksIconItself), an XEmbedIcon the app docks into the X11 tray itself. It follows
// trays that come and go: on Wayland the icon is made only once a host runs, and anew each time
// one comes. Clicks come out as activated(); the status item draws the icon and its menu.
class TrayHost : public QObject {
    Q_OBJECT
public:
    // `menu` is the tray's own menu, which a QSystemTrayIcon shows on a right click.
    explicit TrayHost(QMenu* menu, QObject* parent = nullptr);
    ~TrayHost() override;

    // Makes the icon where a tray can show it (shown on X11, or where a tray runs) and starts
    // watching trays.
    void start();

    // Whether the desktop has a tray that shows the icon, as of the last change heard.
    bool hasTray() const { return m_hasTray; }
    // None on Wayland until a tray host runs, and where the icon docks itself.
    QSystemTrayIcon* tray() { return m_tray.get(); }
    // Where the icon is on the screen, where the tray says; empty elsewhere.
    QRect iconGeometry() const;
    void setIcon(const QIcon& icon);
    void setToolTip(const QString& tip);
    // Opens the menu at `at`, for the tray that leaves that to the app. Through Xwayland a window
    // of the app's takes the keyboard first, so that the menu stays open.
    void popUpMenu(const QPoint& at);

Q_SIGNALS:
    void activated(QSystemTrayIcon::ActivationReason reason);
    // An icon was made, without its picture yet.
    void iconMade();
    // A tray came or went.
    void availabilityChanged(bool available);

private Q_SLOTS:
    // Asks again whether there is a tray; reached by name from the xcb plugin's signal.
    void updateTrayAvailability();

private:
    void watchTrays();
    // A new tray icon in place of the old one, shown when `show`.
    void makeTray(bool show);

    QMenu* m_menu;
    // Holds the keyboard for the menu through Xwayland.
    std::unique_ptr<QWidget> m_menuHost;
    bool m_menuWanted = false;
    bool m_hasTray = false;
    QDBusServiceWatcher* m_trayHosts = nullptr;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    // In its place where the icon docks into the X11 tray itself.
    std::unique_ptr<XEmbedIcon> m_dock;
};

} // namespace pinlark
