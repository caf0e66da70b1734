#pragma once

#include "platform/NotificationCenter.h"

#include <QHash>
#include <QObject>

#include <optional>

namespace pinlark {

// Notifications over the session bus's org.freedesktop.Notifications. Authorization is granted
// when the server answers; a click is the notification's default action. The user info of each
// notification is kept by its id until the server reports it closed. A body goes as plain text:
// escaped for a server that reads markup in bodies (it lists "body-markup" among its
// capabilities, asked once), where a link's "&" or a title's "<b>" would be taken for markup.
class FreedesktopNotificationCenter : public QObject, public NotificationCenter {
    Q_OBJECT
public:
    FreedesktopNotificationCenter();

    QCoro::Task<bool> requestAuthorization(unsigned options) override;
    void add(const NotificationRequest& request) override;
    void setResponseHandler(std::function<void(const QVariantMap&)> respond) override;

private Q_SLOTS:
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id, uint reason);

private:
    QCoro::Task<> post(NotificationRequest request);

    std::optional<bool> m_markup;
    QHash<uint, QVariantMap> m_userInfo;
    std::function<void(const QVariantMap&)> m_respond;
};

} // namespace pinlark
