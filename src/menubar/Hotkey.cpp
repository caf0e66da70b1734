#include "menubar/Hotkey.h"

#include "platform/Platform.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace pinlark {

std::function<void()> Hotkey::s_action;
bool Hotkey::s_registered = false;

void Hotkey::registerAction(std::function<void()> action) {
    s_action = std::move(action);
    if (s_registered)
        return;
    s_registered = Platform::hotKeys().registerHotKey(&Hotkey::fired);
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
