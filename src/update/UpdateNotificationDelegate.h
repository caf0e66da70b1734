#pragma once

#include <QVariantMap>

namespace pinlark {

// Answers the notification centre for the update notifications: a click opens the download
// page the notification carries (the outbox's notice of a refused link: that link); while the
// app is in front, notifications still show.
class UpdateNotificationDelegate {
public:
    // Makes this the centre's handler of responses.
    static void install();

    // A click on a notification: opens its "link", else its "page" (or the default download
    // page).
    static void didReceive(const QVariantMap& userInfo);
    // The presentation options for a notification while the app is in front.
    static unsigned willPresent();
};

} // namespace pinlark
