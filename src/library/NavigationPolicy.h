#pragma once

#include <QUrl>
#include <QWebEnginePage>

namespace pinlark {

// Which navigations of the library window stay in its web view and which leave it. Pure
// functions of the request, so the decision is testable without a web engine.
class NavigationPolicy {
public:
    enum class Decision {
        Allow,
        // Refuse the navigation and open the URL in the user's browser.
        OpenInBrowser,
        // Refuse the navigation and start the browser sign-in instead.
        HandOffToBrowserSignIn,
    };

    // The first rule that applies: no URL is allowed; a main-frame navigation to an identity
    // provider is handed off to the browser sign-in; a link the user clicked that leads out of
    // the app opens in the browser; everything else (redirects, form posts, reloads,
    // back/forward, loads started by the app or by script) stays in the window.
    static Decision decide(const QUrl& url, QWebEnginePage::NavigationType type, bool isMainFrame);

    // Whether the web engine's navigation type is a link the user activated. Chromium reports
    // every other kind (typed, form, back/forward, reload, redirect, other) separately.
    static bool isLinkActivation(QWebEnginePage::NavigationType type);

    // An about:, data: or blob: URL, one on the origin's host exactly (not its subdomains), or
    // one on google.com, gstatic.com or googleusercontent.com or their subdomains.
    static bool isInApp(const QUrl& url);

    // A request for a new window (a link with a new-window target, scripted window opening):
    // an identity provider's page is handed off to the browser sign-in, anything else opens in
    // the browser. The library never opens a second web view.
    static Decision decideNewWindow(const QUrl& url);

    // Whether the URL is on an identity provider's sign-in host (accounts.google.com,
    // accounts.youtube.com, appleid.apple.com or a subdomain), whose top-level and new-window
    // navigations go to the browser sign-in.
    static bool isIdentityProvider(const QUrl& url);

    // Whether `host` equals `domain` or ends with "." followed by it; exact and case-sensitive.
    static bool hostMatches(const QString& host, const QString& domain);
};

} // namespace pinlark
