#pragma once

#include <QFrame>
#include <QRect>

namespace pinlark {

class QuickSaveModel;
class QuickSaveView;

// The window of the quick-save panel: a frameless pop-up beside the status item. It grabs the
// pointer and the keyboard while open and closes on a click outside it or on Escape, which
// works the same with and without a window manager. Its size follows the panel's content; it
// stays inside the screen's work area as it grows.
class Popover : public QFrame {
    Q_OBJECT
public:
    explicit Popover(QuickSaveModel& model, QWidget* parent = nullptr);

    QuickSaveView* view() const { return m_view; }

    // Shows the panel beside `anchor`, in global coordinates: the status item's rectangle, the
    // library window's Quick Save button without a tray, or a one-pixel rectangle at the
    // pointer when neither says where to go. Gives the link field the keyboard.
    void showAt(const QRect& anchor);

    // Where a panel of `size` goes for an item at `anchor`: centred under it, or above it when
    // there is no room below, then moved inside `available`.
    static QRect placement(const QSize& size, const QRect& anchor, const QRect& available);

Q_SIGNALS:
    // The panel went off screen, however it was closed.
    void closed();

protected:
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void place();

    QuickSaveView* m_view = nullptr;
    QRect m_anchor;
};

} // namespace pinlark
