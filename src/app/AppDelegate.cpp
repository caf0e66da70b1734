#include "app/AppDelegate.h"

#include "app/MainMenu.h"
#include "library/LibraryWindow.h"
#include "loginitem/LoginItem.h"
#include "menubar/Hotkey.h"
#include "menubar/StatusItem.h"
#include "menubar/TrayStandIn.h"
#include "platform/Platform.h"
#include "update/Updater.h"

#include <QGuiApplication>
#include <QMenuBar>
#include <QTimer>
#include <QWidget>

namespace pinlark {

AppDelegate::AppDelegate(QObject* parent)
    : QObject(parent) {
    QGuiApplication::setQuitOnLastWindowClosed(false);
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    QMenuBar* menuBar = installMainMenu();
    statusItem = std::make_unique<StatusItem>();
    statusItem->outbox().start();
    Hotkey::registerAction(toggleLibrary);
    if (Platform::bundle().identifier())
        notifications.install();
    LoginItem::reconcile();
    Updater::isLibraryVisible = LibraryWindow::isVisible;
    Updater::start();
    trayStandIn = std::make_unique<TrayStandIn>(*statusItem, menuBar);
    // The tooltips name the shortcut once the desktop has bound it.
    Hotkey::onChange = [this] {
        statusItem->refreshBadge();
        trayStandIn->button()->setToolTip(StatusItem::defaultToolTip());
    };
    // Shown last, once the tray's icon has had its turn to be drawn: the window brings the web
    // engine, which takes longer to start than all the rest.
    QTimer::singleShot(0, this, [this] { showLibraryWhenFree(false); });
}

void AppDelegate::showLibraryWhenFree(bool quietly) {
    // A window a command has made already stays as that command left it.
    if (LibraryWindow::isMade())
        return;
    // Qt closes an open pop-up when another window shows: what the launch's command opened (the
    // panel, the tray's menu) stays until the user is done with it, and the window then comes up
    // without taking the keyboard from where the user went back to.
    if (statusItem->inUse()) {
        connect(
            statusItem.get(), &StatusItem::released, this, [this] { showLibraryWhenFree(true); },
            Qt::SingleShotConnection);
        return;
    }
    LibraryWindow::show(quietly);
}

bool AppDelegate::applicationShouldHandleReopen() {
    LibraryWindow::show();
    return true;
}

void AppDelegate::handle(const Command& command) {
    switch (command.kind) {
    case Command::Kind::Reopen:
        applicationShouldHandleReopen();
        return;
    case Command::Kind::Save:
        statusItem->showPopover(command.link);
        return;
    case Command::Kind::QuickSave:
        statusItem->showPopover();
        return;
    case Command::Kind::ToggleLibrary:
        toggleLibrary();
        return;
    }
}

void AppDelegate::toggleLibrary() {
    if (LibraryWindow::isVisible() && Platform::activationPolicy().isActive())
        LibraryWindow::hide();
    else
        LibraryWindow::show();
}

} // namespace pinlark
