#include "app/AppDelegate.h"

#include "app/MainMenu.h"
#include "library/Dashboard.h"
#include "loginitem/LoginItem.h"
#include "menubar/Hotkey.h"
#include "menubar/StatusItem.h"
#include "menubar/TrayStandIn.h"
#include "platform/Platform.h"
#include "update/Updater.h"

#include <QApplication>
#include <QEvent>
#include <QMenuBar>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <utility>

namespace pinlark {

AppDelegate::AppDelegate(QObject* parent)
    : QObject(parent) {
    QGuiApplication::setQuitOnLastWindowClosed(false);
}

AppDelegate::~AppDelegate() = default;

namespace {

// Calls `then` once, on the turn of the event loop after the tray icon was first painted, or
// after `bound` where no icon of this process paints (a tray host that draws the icon itself,
// none at all).
void afterTrayIconPainted(std::chrono::milliseconds bound, std::function<void()> then) {
    struct Watch : QObject {
        std::function<void()> then;
        bool eventFilter(QObject* watched, QEvent* event) override {
            // Qt's own XEmbed icon, or the one the app docks itself.
            if (event->type() == QEvent::Paint &&
                (watched->inherits("QSystemTrayIconSys") || watched->inherits("pinlark::XEmbedIcon")))
                done();
            return false;
        }
        void done() {
            qApp->removeEventFilter(this);
            if (then)
                QTimer::singleShot(0, qApp, std::exchange(then, {}));
            deleteLater();
        }
    };
    auto* watch = new Watch;
    watch->then = std::move(then);
    qApp->installEventFilter(watch);
    QTimer::singleShot(bound, watch, [watch] { watch->done(); });
}

} // namespace

void AppDelegate::applicationDidFinishLaunching(std::function<void()> finished) {
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
    afterTrayIconPainted(statusItem->hasTray() ? std::chrono::milliseconds(250)
                                               : std::chrono::milliseconds(0),
                         [finished = std::move(finished)] {
                             Dashboard::shared().show();
                             if (finished)
                                 finished();
                         });
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
