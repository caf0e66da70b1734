#include "menubar/Popover.h"

#include "quicksave/QuickSaveView.h"

#include <QGuiApplication>
#include <QHideEvent>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

namespace pinlark {

namespace {
// Between the item and the panel.
constexpr int gap = 4;
} // namespace

Popover::Popover(QuickSaveModel& model, QWidget* parent)
    : QFrame(parent, Qt::Popup) {
    // A click outside closes the panel and goes no further: a click on the status item while
    // the panel is open only closes it, instead of closing it and opening it again.
    setAttribute(Qt::WA_NoMouseReplay);
    setFrameShape(QFrame::StyledPanel);
    auto* layout = new QVBoxLayout(this);
    const int border = frameWidth();
    layout->setContentsMargins(border, border, border, border);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    m_view = new QuickSaveView(model, QuickSaveView::Library::dashboard(), this);
    layout->addWidget(m_view);
}

void Popover::showAt(const QRect& anchor) {
    m_anchor = anchor;
    layout()->activate();
    place();
    show();
    raise();
    activateWindow();
    m_view->focusField();
}

QRect Popover::placement(const QSize& size, const QRect& anchor, const QRect& available) {
    QRect r(QPoint(anchor.center().x() - size.width() / 2, anchor.bottom() + 1 + gap), size);
    if (r.bottom() > available.bottom() && anchor.top() - gap - size.height() >= available.top())
        r.moveBottom(anchor.top() - 1 - gap);
    r.moveLeft(std::clamp(r.left(), available.left(),
                          std::max(available.left(), available.right() + 1 - size.width())));
    r.moveTop(std::clamp(r.top(), available.top(),
                         std::max(available.top(), available.bottom() + 1 - size.height())));
    return r;
}

void Popover::place() {
    QScreen* screen = QGuiApplication::screenAt(m_anchor.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    move(placement(size(), m_anchor, screen->availableGeometry()).topLeft());
}

void Popover::hideEvent(QHideEvent* event) {
    QFrame::hideEvent(event);
    if (!event->spontaneous())
        Q_EMIT closed();
}

void Popover::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    // The panel grew or shrank with its content: an item at the bottom of the screen keeps it
    // above, and no edge leaves the work area.
    if (isVisible())
        place();
}

} // namespace pinlark
