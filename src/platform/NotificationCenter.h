#pragma once

#include <QCoro/QCoroTask>
#include <QString>
#include <QVariantMap>

#include <functional>

namespace pinlark {

// A notification delivered at once.
struct NotificationRequest {
    QString identifier;
    QString title;
    QString body;
    QVariantMap userInfo;
};

// The user-notification centre of the desktop.
class NotificationCenter {
public:
    // Options of an authorization request.
    enum Option : unsigned { Sound = 2, Alert = 4 };
    // Presentation options while the app is in front.
    enum Presentation : unsigned { PresentSound = 2, PresentBanner = 16 };

    virtual ~NotificationCenter() = default;
    // Whether the app may post notifications with `options`; throws PlatformError when the
    // centre can't be asked.
    virtual QCoro::Task<bool> requestAuthorization(unsigned options) = 0;
    // Posts the notification; failures are dropped.
    virtual void add(const NotificationRequest& request) = 0;
    // Asks for alerts with sound and posts `request` when they are allowed; throws PlatformError
    // when the centre can't be asked.
    QCoro::Task<> addIfAllowed(NotificationRequest request);
    // The user clicked a notification of this app: `respond` gets its user info. Replaces the
    // previous handler.
    virtual void setResponseHandler(std::function<void(const QVariantMap& userInfo)> respond) = 0;
};

} // namespace pinlark
