#include "platform/WebProfile.h"

#include "Product.h"

#include <QQuickWindow>
#include <QStandardPaths>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

#include <utility>
#include <vector>

namespace pinlark {

namespace {
QWebEngineProfile* created = nullptr;
std::vector<std::function<void(QWebEngineProfile*)>> waiting;
} // namespace

void afterWebProfileCreated(std::function<void(QWebEngineProfile*)> then) {
    if (created)
        then(created);
    else
        waiting.push_back(std::move(then));
}

QWebEngineProfile* sharedWebProfile() {
    static QWebEngineProfile* profile = [] {
        const QString id = QLatin1String(Product::bundleIdentifier);
        auto* p = new QWebEngineProfile(id);
        p->setPersistentStoragePath(webDataFolder() + QLatin1String("/WebEngine"));
        p->setCachePath(webCacheFolder() + QLatin1String("/WebEngine"));
        p->setPersistentCookiesPolicy(QWebEngineProfile::ForcePersistentCookies);
        // A link of a scheme the engine doesn't know is not handed to the desktop by the engine.
        p->settings()->setUnknownUrlSchemePolicy(QWebEngineSettings::DisallowUnknownUrlSchemes);
        created = p;
        for (auto& then : std::exchange(waiting, {}))
            then(p);
        return p;
    }();
    return profile;
}

QString webDataFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QLatin1Char('/') + QLatin1String(Product::bundleIdentifier);
}

QString webCacheFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QLatin1Char('/') + QLatin1String(Product::bundleIdentifier);
}

void prepareWebEngine() {
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
}

} // namespace pinlark
