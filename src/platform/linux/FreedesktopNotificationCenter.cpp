#include "platform/linux/FreedesktopNotificationCenter.h"

#include "platform/Error.h"

#include <QCoroDBusPendingCall>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>

namespace pinlark {

namespace {
const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");
} // namespace

FreedesktopNotificationCenter::FreedesktopNotificationCenter() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.connect(service, path, interface, QStringLiteral("ActionInvoked"), this,
                SLOT(actionInvoked(uint, QString)));
    bus.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                SLOT(notificationClosed(uint, uint)));
}

QCoro::Task<bool> FreedesktopNotificationCenter::requestAuthorization(unsigned) {
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface,
                                                       QStringLiteral("GetServerInformation"));
    const QDBusMessage reply = co_await QDBusConnection::sessionBus().asyncCall(call, 10000);
    if (reply.type() == QDBusMessage::ErrorMessage)
        throw PlatformError(reply.errorMessage());
    co_return true;
}

void FreedesktopNotificationCenter::add(const NotificationRequest& request) {
    post(request);
}

QCoro::Task<> FreedesktopNotificationCenter::post(NotificationRequest request) {
    QPointer<FreedesktopNotificationCenter> self(this);
    if (!m_markup) {
        const QDBusMessage reply = co_await QDBusConnection::sessionBus().asyncCall(
            QDBusMessage::createMethodCall(service, path, interface,
                                           QStringLiteral("GetCapabilities")),
            10000);
        if (!self)
            co_return;
        // Asked again next time when the server did not answer.
        if (reply.type() == QDBusMessage::ReplyMessage)
            m_markup =
                reply.arguments().value(0).toStringList().contains(QLatin1String("body-markup"));
    }
    const QString body = m_markup.value_or(false) ? request.body.toHtmlEscaped() : request.body;
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Notify"));
    call << QStringLiteral("Pinlark") << uint(0) << QString() << request.title << body
         << QStringList{QStringLiteral("default"), QStringLiteral("Open")} << QVariantMap()
         << int(-1);
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, info = request.userInfo](QDBusPendingCallWatcher* w) {
                const QDBusPendingReply<uint> reply = *w;
                if (!reply.isError())
                    m_userInfo.insert(reply.value(), info);
                w->deleteLater();
            });
}

void FreedesktopNotificationCenter::setResponseHandler(
    std::function<void(const QVariantMap&)> respond) {
    m_respond = std::move(respond);
}

void FreedesktopNotificationCenter::actionInvoked(uint id, const QString& action) {
    const auto it = m_userInfo.constFind(id);
    if (action != QLatin1String("default") || it == m_userInfo.constEnd())
        return;
    if (m_respond)
        m_respond(*it);
}

void FreedesktopNotificationCenter::notificationClosed(uint id, uint) {
    m_userInfo.remove(id);
}

} // namespace pinlark
