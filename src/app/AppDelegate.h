#pragma once

#include "app/CommandLine.h"
#include "update/UpdateNotificationDelegate.h"

#include <QObject>

#include <memory>

namespace pinlark {

class StatusItem;
class TrayStandIn;

// The application delegate: wires the long-lived controllers in a fixed order once launching has
// finished and routes the app-level events (a reopen, a later launch's command) to them. One
// instance for the whole process, kept by the entry point.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    // Closing the last window never ends the process: the app lives in the tray.
    explicit AppDelegate(QObject* parent = nullptr);
    ~AppDelegate() override;

    // In this order: the main menu, the status item (whose outbox starts sending), the global
    // hotkey, the notification delegate (when the bundle has an identifier), the login item, the
    // updater, and, at the event loop's next turn, the library window shown (once what the launch's
    // command opened has closed), carrying what the tray would while the desktop has none.
    void applicationDidFinishLaunching();
    // Shows the library window, visible or not; always true.
    bool applicationShouldHandleReopen();
    // A launch's command: a reopen, a link to save, the quick-save panel, the library toggled.
    void handle(const pinlark::Command& command);

    // The hotkey's action: hides the library window when it is visible and the app is active,
    // shows it otherwise.
    static void toggleLibrary();

    // Set once launching has finished.
    std::unique_ptr<StatusItem> statusItem;
    std::unique_ptr<TrayStandIn> trayStandIn;
    UpdateNotificationDelegate notifications;

private:
    // Shows the library window at the end of the launch, once the panel and the tray's menu are
    // closed.
    void showLibraryWhenFree(bool quietly);
};

} // namespace pinlark
