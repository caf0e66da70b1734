#pragma once

#include <QObject>

class QMenu;
class QMenuBar;
class QToolButton;

namespace pinlark {

class StatusItem;

// What the tray carries, in the library window's menu bar while the desktop has no tray: a
// "Quick Save" button at the bar's right end that opens the quick-save panel under it, and the
// status item's menu as the bar's "File" menu, its rows filled afresh each time it opens. Both
// step aside while a tray shows the icon and come back when it goes.
class TrayStandIn : public QObject {
    Q_OBJECT
public:
    // `bar` is the library window's menu bar; it owns the button and the menu.
    TrayStandIn(StatusItem& item, QMenuBar* bar);

    QToolButton* button() const { return m_button; }
    QMenu* menu() const { return m_menu; }

private:
    void follow(bool hasTray);
    void fill();

    StatusItem& m_item;
    QToolButton* m_button;
    QMenu* m_menu;
};

} // namespace pinlark
