#include "library/NavigationPolicy.h"

#include "service/Config.h"
#include "service/HostMatch.h"

#include <algorithm>

namespace pinlark {

NavigationPolicy::Decision
NavigationPolicy::decide(const QUrl& url, QWebEnginePage::NavigationType type, bool isMainFrame) {
    if (url.isEmpty())
        return Decision::Allow;
    if (isMainFrame && isIdentityProvider(url))
        return Decision::HandOffToBrowserSignIn;
    if (isLinkActivation(type) && !isInApp(url))
        return Decision::OpenInBrowser;
    return Decision::Allow;
}

bool NavigationPolicy::isLinkActivation(QWebEnginePage::NavigationType type) {
    return type == QWebEnginePage::NavigationTypeLinkClicked;
}

bool NavigationPolicy::isInApp(const QUrl& url) {
    const QString host = url.host(QUrl::FullyEncoded);
    if (host.isEmpty()) {
        // The engine's own documents (the error page, blank pages, blobs the app makes), never
        // a link of another scheme.
        static const QString local[] = {QStringLiteral("about"), QStringLiteral("data"),
                                        QStringLiteral("blob")};
        return std::find(std::begin(local), std::end(local), url.scheme().toLower()) !=
               std::end(local);
    }
    if (host == Config::origin().host(QUrl::FullyEncoded))
        return true;
    static const QString google[] = {QStringLiteral("google.com"), QStringLiteral("gstatic.com"),
                                     QStringLiteral("googleusercontent.com")};
    return std::any_of(std::begin(google), std::end(google),
                       [&](const QString& domain) { return hostMatches(host, domain); });
}

NavigationPolicy::Decision NavigationPolicy::decideNewWindow(const QUrl& url) {
    return isIdentityProvider(url) ? Decision::HandOffToBrowserSignIn : Decision::OpenInBrowser;
}

bool NavigationPolicy::isIdentityProvider(const QUrl& url) {
    const QString host = url.host(QUrl::FullyEncoded);
    if (host.isEmpty())
        return false;
    static const QString providers[] = {QStringLiteral("accounts.google.com"),
                                        QStringLiteral("accounts.youtube.com"),
                                        QStringLiteral("appleid.apple.com")};
    return std::any_of(std::begin(providers), std::end(providers),
                       [&](const QString& domain) { return hostMatches(host, domain); });
}

bool NavigationPolicy::hostMatches(const QString& host, const QString& domain) {
    return hostIsInDomain(host, domain);
}

} // namespace pinlark
