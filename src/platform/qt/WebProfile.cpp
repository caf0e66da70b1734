#include "platform/WebProfile.h"

#include "Product.h"
#include "platform/qt/WebEngineCookieStore.h"

#include <QPointer>
#include <QQuickWindow>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

namespace pinlark {

namespace {

// The engine's store as the cookie mirror reaches it; its changes go to the mirror.
class EngineCookies : public WebEngineCookieStore::Engine {
public:
    EngineCookies(QWebEngineCookieStore* store, WebEngineCookieStore& mirror)
        : m_store(store) {
        QObject::connect(store, &QWebEngineCookieStore::cookieAdded, &mirror,
                         &WebEngineCookieStore::added);
        QObject::connect(store, &QWebEngineCookieStore::cookieRemoved, &mirror,
                         &WebEngineCookieStore::removed);
    }
    void setCookie(const QNetworkCookie& cookie, const QUrl& origin) override {
        if (m_store)
            m_store->setCookie(cookie, origin);
    }
    void deleteCookie(const QNetworkCookie& cookie, const QUrl& origin) override {
        if (m_store)
            m_store->deleteCookie(cookie, origin);
    }

private:
    QPointer<QWebEngineCookieStore> m_store;
};

} // namespace

QWebEngineProfile* sharedWebProfile() {
    static QWebEngineProfile* profile = [] {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        const QString id = QLatin1String(Product::bundleIdentifier);
        auto* p = new QWebEngineProfile(id);
        p->setPersistentStoragePath(webDataFolder() + QLatin1String("/WebEngine"));
        p->setCachePath(webCacheFolder() + QLatin1String("/WebEngine"));
        p->setPersistentCookiesPolicy(QWebEngineProfile::ForcePersistentCookies);
        // A link of a scheme the engine doesn't know is not handed to the desktop by the engine.
        p->settings()->setUnknownUrlSchemePolicy(QWebEngineSettings::DisallowUnknownUrlSchemes);
        WebEngineCookieStore::engineStarted([store = p->cookieStore()](WebEngineCookieStore& mirror) {
            return std::make_unique<EngineCookies>(store, mirror);
        });
        return p;
    }();
    return profile;
}

} // namespace pinlark
