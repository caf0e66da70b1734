#pragma once

#include <QFrame>
#include <QRect>
#include <QTimer>

namespace pinlark {

class QuickSaveModel;
class QuickSaveView;

// The window of the quick-save panel, frameless, with the panel's own border. Beside the status
// item or under a button it is a pop-up: it grabs the pointer and the keyboard while open and
// closes on a click outside it or on Escape, which works the same with and without a window
// manager. On Wayland a pop-up needs a window of the app to hang from, and no client knows where
// the tray is: opened from the tray there, it is a frameless window of its own that the
// compositor places, and it closes on Escape and when it loses the focus. Through Xwayland a
// pop-up can't take the keyboard from a Wayland window: there the panel is a window of its own
// placed beside the item. Its size follows the panel's content; it stays inside the screen's
// work area as it grows.
class Popover : public QFrame {
    Q_OBJECT
public:
    explicit Popover(QuickSaveModel& model, QWidget* parent = nullptr);

    QuickSaveView* view() const { return m_view; }

    // Shows the panel beside `anchor`, in global coordinates: the status item's rectangle on
    // X11, or a one-pixel rectangle at the pointer when nothing says where to go. Gives the link
    // field the keyboard. A pop-up, or, with `ownWindow`, a window of its own placed there.
    void showAt(const QRect& anchor, bool ownWindow = false);
    // Shows the panel as a pop-up of `widget`'s window, under `widget`.
    void showUnder(QWidget* widget);
    // Shows the panel as a window of its own, where the window manager puts it.
    void showAsWindow();

    // Whether it is open as a window of its own rather than a pop-up.
    bool isOwnWindow() const { return m_ownWindow; }

    // Where a panel of `size` goes for an item at `anchor`: centred under it, or above it when
    // there is no room below, then moved inside `available`.
    static QRect placement(const QSize& size, const QRect& anchor, const QRect& available);
    // Where an item is taken to be, of which only the `pointer` that clicked it is known, on a
    // screen of `screen` whose work area is `available`: across the whole depth of the panel the
    // pointer is on, outside the work area; inside it, the pointer's own pixel.
    static QRect pointerAnchor(const QPoint& pointer, const QRect& screen, const QRect& available);

Q_SIGNALS:
    // The panel went off screen, however it was closed.
    void closed();

protected:
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Turns the panel into a pop-up hanging from `parent`'s window, or a window of its own.
    void become(bool ownWindow, QWidget* parent);
    void open();
    void place();

    QuickSaveView* m_view = nullptr;
    QRect m_anchor;
    bool m_ownWindow = false;
    // Closes the panel, as a window of its own, unless the focus has come back.
    QTimer m_settle;
};

} // namespace pinlark
