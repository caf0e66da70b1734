#pragma once

#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QToolButton>

class QMenuBar;

namespace pinlark {

class StatusItem;

// What the tray carries, in the library window's menu bar while the desktop has no tray: a
// "Quick Save" button at the bar's right end that opens the quick-save panel under it, and the
// status item's menu as the bar's "File" menu, its rows brought up to date each time it opens. Both
// step aside while a tray shows the icon and come back when it goes.
class TrayStandIn : public QObject {
    Q_OBJECT
public:
    // Puts the button and the menu into `bar`, the library window's menu bar; they live as long
    // as this object, which must not outlive `item`.
    TrayStandIn(StatusItem& item, QMenuBar* bar);
    ~TrayStandIn() override;

    QToolButton* button() const { return m_button; }
    QMenu* menu() const { return m_menu; }

private:
    void follow(bool hasTray);

    StatusItem& m_item;
    QPointer<QToolButton> m_button;
    QPointer<QMenu> m_menu;
};

} // namespace pinlark
