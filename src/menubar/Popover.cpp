#include "menubar/Popover.h"

#include "platform/Desktop.h"
#include "quicksave/QuickSaveView.h"

#include <QApplication>
#include <QHideEvent>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace pinlark {

namespace {
// Between the item and the panel.
constexpr int gap = 4;
// How long the keyboard focus may be away before the panel, as a window of its own, closes.
constexpr std::chrono::milliseconds focusSettles(250);
} // namespace

Popover::Popover(QuickSaveModel& model, QWidget* parent)
    : QFrame(parent, Qt::Popup) {
    // A click outside closes the panel and goes no further: a click on the status item while
    // the panel is open only closes it, instead of closing it and opening it again.
    setAttribute(Qt::WA_NoMouseReplay);
    setFrameShape(QFrame::StyledPanel);
    // What the window is called where it is a window of its own.
    setWindowTitle(QStringLiteral("Quick Save"));
    auto* layout = new QVBoxLayout(this);
    const int border = frameWidth();
    layout->setContentsMargins(border, border, border, border);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    m_view = new QuickSaveView(model, QuickSaveView::Library::dashboard(), this);
    layout->addWidget(m_view);
    m_settle.setSingleShot(true);
    m_settle.setInterval(focusSettles);
    connect(&m_settle, &QTimer::timeout, this, [this] {
        if (m_ownWindow && isVisible() && !isActiveWindow() && !QApplication::activePopupWidget())
            hide();
    });
}

void Popover::showAt(const QRect& anchor, bool ownWindow) {
    become(ownWindow, nullptr);
    m_anchor = anchor;
    open();
}

void Popover::showUnder(QWidget* widget) {
    become(false, widget->window());
    m_anchor = QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
    open();
}

void Popover::showAsWindow() {
    become(true, nullptr);
    m_anchor = {};
    layout()->activate();
    show();
    activateWindow();
    m_view->focusField();
}

void Popover::become(bool ownWindow, QWidget* parent) {
    // A frameless tool window: the window manager draws no title bar, and where it tiles
    // windows the fixed size keeps it floating.
    const Qt::WindowFlags flags = ownWindow ? Qt::Tool | Qt::FramelessWindowHint : Qt::Popup;
    if (windowFlags() != flags)
        setWindowFlags(flags); // hides the panel and makes a new native window at the next show
    m_ownWindow = ownWindow;
    // Where pop-ups are placed relative to a window (Wayland), they need that window.
    create();
    QWindow* transientParent = parent ? parent->windowHandle() : nullptr;
    if (windowHandle()->transientParent() != transientParent)
        windowHandle()->setTransientParent(transientParent);
}

void Popover::open() {
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

QRect Popover::pointerAnchor(const QPoint& pointer, const QRect& screen, const QRect& available) {
    if (pointer.y() < available.top())
        return QRect(QPoint(pointer.x(), screen.top()), QPoint(pointer.x(), available.top() - 1));
    if (pointer.y() > available.bottom())
        return QRect(QPoint(pointer.x(), available.bottom() + 1),
                     QPoint(pointer.x(), screen.bottom()));
    if (pointer.x() < available.left())
        return QRect(QPoint(screen.left(), pointer.y()), QPoint(available.left() - 1, pointer.y()));
    if (pointer.x() > available.right())
        return QRect(QPoint(available.right() + 1, pointer.y()),
                     QPoint(screen.right(), pointer.y()));
    return QRect(pointer, QSize(1, 1));
}

void Popover::place() {
    if (m_ownWindow && m_anchor.isEmpty())
        return;
    // On Wayland a window's place on the screen is the compositor's secret: the panel is placed
    // inside the window it hangs from, and the compositor keeps it on the screen.
    const QWindow* parent = windowHandle() ? windowHandle()->transientParent() : nullptr;
    if (parent && Desktop::onWayland()) {
        move(placement(size(), m_anchor, parent->geometry()).topLeft());
        return;
    }
    QScreen* screen = QGuiApplication::screenAt(m_anchor.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    move(placement(size(), m_anchor, screen->availableGeometry()).topLeft());
}

void Popover::changeEvent(QEvent* event) {
    QFrame::changeEvent(event);
    if (event->type() != QEvent::ActivationChange || !m_ownWindow || isActiveWindow())
        return;
    // The focus went elsewhere: to another window, or for a moment to a menu of the panel's own
    // or nowhere (a compositor takes the keyboard away and gives it back when its keyboard map
    // changes). Asked again once that has settled.
    m_settle.start();
}

void Popover::hideEvent(QHideEvent* event) {
    QFrame::hideEvent(event);
    // Opened again, the panel waits for the focus it has asked for.
    m_settle.stop();
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
