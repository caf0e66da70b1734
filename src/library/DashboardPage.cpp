#include "library/DashboardPage.h"

#include "library/NavigationPolicy.h"
#include "platform/Platform.h"

#include <QWebEngineNewWindowRequest>

namespace pinlark {

DashboardPage::DashboardPage(QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent) {
    // Never a second web view: links with a new-window target and scripted window opening go
    // to the browser, an identity provider's sign-in to the browser sign-in.
    connect(this, &QWebEnginePage::newWindowRequested, this,
            [this](QWebEngineNewWindowRequest& request) {
                const QUrl url = request.requestedUrl();
                if (url.isEmpty())
                    return;
                if (NavigationPolicy::decideNewWindow(url) ==
                    NavigationPolicy::Decision::HandOffToBrowserSignIn)
                    requestBrowserSignIn(url);
                else
                    Platform::workspace().open(url);
            });
}

bool DashboardPage::acceptNavigationRequest(const QUrl& url, NavigationType type,
                                            bool isMainFrame) {
    switch (NavigationPolicy::decide(url, type, isMainFrame)) {
    case NavigationPolicy::Decision::Allow:
        return true;
    case NavigationPolicy::Decision::OpenInBrowser:
        Platform::workspace().open(url);
        return false;
    case NavigationPolicy::Decision::HandOffToBrowserSignIn:
        requestBrowserSignIn(url);
        return false;
    }
    return true;
}

void DashboardPage::requestBrowserSignIn(const QUrl& url) {
    // Refuse first; the sign-in starts once the engine has the answer.
    QMetaObject::invokeMethod(
        this, [this, url] { Q_EMIT browserSignInRequested(url); }, Qt::QueuedConnection);
}

} // namespace pinlark
