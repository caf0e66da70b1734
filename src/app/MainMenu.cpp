#include "app/MainMenu.h"

#include "Product.h"
#include "app/ViewActions.h"
#include "library/LibraryWindow.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QMenu>
#include <QMenuBar>

#include <functional>

namespace pinlark {

namespace {

// Adds an item; one without an action stays disabled.
QAction* add(QMenu* menu, const char* title, QKeySequence key, std::function<void()> action) {
    QAction* item = menu->addAction(QString::fromUtf8(title));
    item->setShortcut(key);
    if (action)
        QObject::connect(item, &QAction::triggered, item, std::move(action));
    else
        item->setEnabled(false);
    return item;
}

// Runs an editing command where the keyboard focus is, as its key would: a text field runs its
// own slot of that name, a web view's page runs the command on the focused element.
std::function<void()> edit(const char* slot, LibraryWindow::Edit webAction) {
    return [slot, webAction] {
        QWidget* focus = QApplication::focusWidget();
        if (!focus)
            return;
        if (focus->metaObject()->indexOfSlot(QByteArray(slot) + "()") >= 0) {
            QMetaObject::invokeMethod(focus, slot);
            return;
        }
        LibraryWindow::edit(focus, webAction);
    };
}

std::function<void()> onActiveWindow(std::function<void(QWidget*)> command) {
    return [command = std::move(command)] {
        if (QWidget* window = QApplication::activeWindow())
            command(window);
    };
}

// Below its commands the Window menu lists the app's titled windows as they are when it opens;
// choosing one brings it forward.
void listWindows(QMenu* menu) {
    const QList<QAction*> items = menu->actions();
    const int commands = 2;
    for (qsizetype i = commands; i < items.size(); ++i)
        delete items[i];
    bool first = true;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->isVisible() || window->windowTitle().isEmpty() ||
            window->windowType() == Qt::Popup || window->windowType() == Qt::ToolTip)
            continue;
        if (std::exchange(first, false))
            menu->addSeparator();
        QAction* item = menu->addAction(window->windowTitle());
        item->setCheckable(true);
        item->setChecked(window == QApplication::activeWindow());
        QObject::connect(item, &QAction::triggered, window, [window] {
            window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
            window->raise();
            window->activateWindow();
        });
    }
}

} // namespace

QMenuBar* buildMainMenu(QWidget* parent) {
    using WebAction = LibraryWindow::Edit;
    auto* bar = new QMenuBar(parent);

    // On macOS the system titles the application menu with the app's name; on Linux it has to
    // say so itself.
    QMenu* application = bar->addMenu(QLatin1String(Product::name));
    add(application, "About Pinlark", {}, [] {
        Platform::alerts().run(Alert{QLatin1String(Product::name),
                                     QStringLiteral("Version %1").arg(Product::version),
                                     {QStringLiteral("OK")}});
    })->setMenuRole(QAction::AboutRole);
    application->addSeparator();
    add(application, "Hide Pinlark", Qt::CTRL | Qt::Key_H, LibraryWindow::hide);
#ifdef Q_OS_MACOS
    // Hiding or showing other applications is the window manager's business elsewhere.
    add(application, "Hide Others", Qt::ALT | Qt::CTRL | Qt::Key_H, {});
    add(application, "Show All", {}, {});
#endif
    application->addSeparator();
    // Exits the event loop directly: newer Qt versions turn a quit request into closing every
    // window first, and the library window answers a close by hiding, which cancels the quit.
    add(application, "Quit Pinlark", Qt::CTRL | Qt::Key_Q, [] {
        QCoreApplication::exit(0);
    })->setMenuRole(QAction::QuitRole);

    QMenu* editMenu = bar->addMenu(QStringLiteral("Edit"));
    add(editMenu, "Undo", Qt::CTRL | Qt::Key_Z, edit("undo", WebAction::Undo));
    add(editMenu, "Redo", Qt::SHIFT | Qt::CTRL | Qt::Key_Z, edit("redo", WebAction::Redo));
    editMenu->addSeparator();
    add(editMenu, "Cut", Qt::CTRL | Qt::Key_X, edit("cut", WebAction::Cut));
    add(editMenu, "Copy", Qt::CTRL | Qt::Key_C, edit("copy", WebAction::Copy));
    add(editMenu, "Paste", Qt::CTRL | Qt::Key_V, edit("paste", WebAction::Paste));
    add(editMenu, "Select All", Qt::CTRL | Qt::Key_A, edit("selectAll", WebAction::SelectAll));

    QMenu* view = bar->addMenu(QStringLiteral("View"));
    add(view, "Reload", Qt::CTRL | Qt::Key_R, ViewActions::reload);
    add(view, "Saves", Qt::CTRL | Qt::Key_0, ViewActions::goHome);
    view->addSeparator();
    add(view, "Back", Qt::CTRL | Qt::Key_BracketLeft, ViewActions::goBack);
    add(view, "Forward", Qt::CTRL | Qt::Key_BracketRight, ViewActions::goForward);

    QMenu* window = bar->addMenu(QStringLiteral("Window"));
    add(window, "Minimize", Qt::CTRL | Qt::Key_M,
        onActiveWindow([](QWidget* w) { w->showMinimized(); }));
    add(window, "Close", Qt::CTRL | Qt::Key_W, onActiveWindow([](QWidget* w) { w->close(); }));
    QObject::connect(window, &QMenu::aboutToShow, window, [window] { listWindows(window); });
    return bar;
}

QMenuBar* installMainMenu() {
    QMenuBar* bar = buildMainMenu();
    LibraryWindow::setMenuBar(bar);
    return bar;
}

} // namespace pinlark
