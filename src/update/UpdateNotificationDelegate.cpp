#include "update/UpdateNotificationDelegate.h"

#include "platform/Platform.h"
#include "update/Updater.h"

#include <QTimer>
#include <QUrl>

namespace pinlark {

void UpdateNotificationDelegate::install() {
    Platform::notifications().setResponseHandler(didReceive);
}

void UpdateNotificationDelegate::didReceive(const QVariantMap& userInfo) {
    const QVariant link = userInfo.value(QStringLiteral("link"));
    const QVariant page = userInfo.value(QStringLiteral("page"));
    const std::optional<QString> path =
        page.typeId() == QMetaType::QString ? std::optional(page.toString()) : std::nullopt;
    // Opened from the event loop, after the centre's call has returned.
    if (link.typeId() == QMetaType::QString)
        QTimer::singleShot(0, [url = QUrl(link.toString())] { Platform::workspace().open(url); });
    else
        QTimer::singleShot(0, [path] { Updater::openDownloadPage(path); });
}

unsigned UpdateNotificationDelegate::willPresent() {
    return NotificationCenter::PresentBanner | NotificationCenter::PresentSound;
}

} // namespace pinlark
