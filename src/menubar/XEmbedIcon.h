#pragma once

#include <QAbstractNativeEventFilter>
#include <QIcon>
#include <QRect>
#include <QSystemTrayIcon>
#include <QWidget>

namespace pinlark {

// The app's icon docked by the app itself into an X11 system tray (the freedesktop system tray
// protocol, through XEmbed), where the tray passes every click on to the icon: GNOME Shell's
// AppIndicator extension keeps a single click on a StatusNotifierItem for the item's menu, but
// hands a docked X11 icon its clicks as they come. A left press is a Trigger, a right press a
// Context, the middle button a MiddleClick, as with QSystemTrayIcon.
class XEmbedIcon : public QWidget, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    explicit XEmbedIcon(QWidget* parent = nullptr);
    ~XEmbedIcon() override;

    // Asks the tray manager to take the icon in; false when there is none.
    bool dock();
    void setIcon(const QIcon& icon);
    QIcon icon() const { return m_icon; }
    // Where the icon is on the screen, asked of the X server; empty when it is not docked, or
    // when the tray shows it elsewhere than its window.
    QRect globalGeometry() const;

Q_SIGNALS:
    void activated(QSystemTrayIcon::ActivationReason reason);
    // A tray manager has taken the tray (at the desktop's start, or anew).
    void trayManagerStarted();

protected:
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QIcon m_icon;
};

} // namespace pinlark
