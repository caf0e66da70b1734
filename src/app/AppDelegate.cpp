#include "app/AppDelegate.h"

#include "app/MainMenu.h"
#include "library/Dashboard.h"
#include "loginitem/LoginItem.h"
#include "menubar/Hotkey.h"
#include "menubar/StatusItem.h"
#include "menubar/TrayStandIn.h"
#include "platform/Platform.h"
#include "update/Updater.h"

#include <QGuiApplication>
#include <QMenuBar>
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
    Updater::isLibraryVisible = [] { return Dashboard::shared().window()->isVisible(); };
    Updater::start();
    trayStandIn = std::make_unique<TrayStandIn>(*statusItem, menuBar);
    // The tooltips name the shortcut once the desktop has bound it.
    Hotkey::onChange = [this] {
        statusItem->refreshBadge();
        trayStandIn->button()->setToolTip(StatusItem::defaultToolTip());
    };
    Dashboard::shared().show();
}

bool AppDelegate::applicationShouldHandleReopen() {
    Dashboard::shared().show();
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
    Dashboard& library = Dashboard::shared();
    if (library.window()->isVisible() && Platform::activationPolicy().isActive())
        library.hide();
    else
        library.show();
}

} // namespace pinlark
