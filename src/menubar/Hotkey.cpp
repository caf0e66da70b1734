#include "menubar/Hotkey.h"

#include "platform/Log.h"
#include "platform/Platform.h"
#include "platform/linux/GnomeShortcuts.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace pinlark {

std::function<void()> Hotkey::s_action;
std::function<void()> Hotkey::onChange;
bool Hotkey::s_registered = false;
bool Hotkey::s_logged = false;

void Hotkey::registerAction(std::function<void()> action) {
    s_action = std::move(action);
    if (s_registered)
        return;
    HotKeyService& service = Platform::hotKeys();
    service.onTriggerChange = [] {
        if (onChange)
            onChange();
    };
    s_registered = service.registerHotKey(&Hotkey::fired);
    if (std::exchange(s_logged, true))
        return;
    const QString outcome = !service.trigger().isEmpty()
                                ? service.trigger() + QStringLiteral(" registered")
                            : s_registered ? QStringLiteral("waiting for the desktop's answer")
                                           : QStringLiteral("not registered; the desktop's own "
                                                            "shortcut settings can run Pinlark "
                                                            "--toggle-library");
    logLine(QStringLiteral("[Pinlark] global shortcut: %1, %2").arg(service.name(), outcome));
}

QString Hotkey::text() {
    return Platform::hotKeys().trigger();
}

QString Hotkey::setUpText() {
    const QString program = Platform::bundle().executablePath();
    // A desktop portal that took the shortcut without keys lists it in the desktop's settings.
    const QString intro =
        s_registered ? QStringLiteral("The desktop holds Pinlark's shortcut but gave it no keys: "
                                      "another program may use them. Give it keys in the "
                                      "desktop's shortcut settings (KDE: System Settings \u2192 "
                                      "Shortcuts \u2192 Pinlark), or add a custom shortcut that "
                                      "runs a command:\n\n")
                     : QStringLiteral("This desktop gives Pinlark no global shortcut. Add one in "
                                      "its keyboard settings as a custom shortcut that runs a "
                                      "command:\n\n");
    // The program quoted where a command line needs it (a copy in "~/My Apps").
    const auto command = [&program](const QString& argument) {
        return program.isEmpty() ? QStringLiteral("Pinlark ") + argument
                                 : GnomeShortcuts::commandLine(program, argument);
    };
    return intro +
           QStringLiteral(
               "%1\n    shows or hides the library\n"
               "%2\n    opens the quick-save panel\n\n"
               "GNOME: Settings \u2192 Keyboard \u2192 View and Customize Shortcuts \u2192 "
               "Custom Shortcuts.\n"
               "KDE: System Settings \u2192 Shortcuts \u2192 Add New \u2192 Command or Script.")
               .arg(command(QStringLiteral("--toggle-library")),
                    command(QStringLiteral("--quick-save")));
}

void Hotkey::fired() {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [] {
            // A copy, so an action that registers a new one does not destroy itself mid-call.
            if (const std::function<void()> action = s_action)
                action();
        },
        Qt::QueuedConnection);
}

} // namespace pinlark
