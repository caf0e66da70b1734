#include "menubar/Hotkey.h"

#include "platform/Log.h"
#include "platform/Platform.h"
#include "quicksave/ShortcutFooter.h"

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
    ShortcutFooter::desktopHoldsShortcut = [] { return s_registered; };
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
