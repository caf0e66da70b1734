#include "loginitem/LoginItem.h"

#include "platform/Error.h"
#include "platform/Log.h"
#include "platform/Platform.h"

namespace pinlark {

void LoginItem::reconcile() {
    if (!Platform::defaults().boolean(QLatin1String(desiredKey)).value_or(false))
        return;
    LoginItemService& service = Platform::loginItems();
    if (service.status() == LoginItemService::Status::Enabled)
        return;
    logLine(QStringLiteral("[Pinlark] re-registering the login item after an update"));
    try {
        service.registerApp();
    } catch (const Error& e) {
        logLine(QStringLiteral("[Pinlark] login item re-register failed: ") +
                e.localizedDescription());
    }
}

void LoginItem::set(bool on) {
    Platform::defaults().set(QLatin1String(desiredKey), on);
    LoginItemService& service = Platform::loginItems();
    try {
        if (on)
            service.registerApp();
        else
            service.unregisterApp();
    } catch (const Error& e) {
        logLine(QStringLiteral("[Pinlark] login item ") +
                (on ? QStringLiteral("register") : QStringLiteral("unregister")) +
                QStringLiteral(" failed: ") + e.localizedDescription());
    }
}

} // namespace pinlark
