#include "platform/WebProfile.h"

#include "Product.h"

#include <QQuickWindow>
#include <QStandardPaths>
#include <QWebEngineProfile>

namespace pinlark {

QWebEngineProfile* sharedWebProfile() {
    static QWebEngineProfile* profile = [] {
        const QString id = QLatin1String(Product::bundleIdentifier);
        auto* p = new QWebEngineProfile(id);
        p->setPersistentStoragePath(
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
            QLatin1Char('/') + id + QLatin1String("/WebEngine"));
        p->setCachePath(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                        QLatin1Char('/') + id + QLatin1String("/WebEngine"));
        p->setPersistentCookiesPolicy(QWebEngineProfile::ForcePersistentCookies);
        return p;
    }();
    return profile;
}

void prepareWebEngine() {
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
}

} // namespace pinlark
