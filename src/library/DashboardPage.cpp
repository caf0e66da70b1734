#include "library/DashboardPage.h"

#include "library/NavigationPolicy.h"
#include "platform/Platform.h"

#include <QWebEngineNewWindowRequest>

namespace pinlark {

DashboardPage::DashboardPage(QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent) {
    // Never a second web view: links with a new-window target and scripted window opening go
    // to the browser, whatever their host.
    connect(this, &QWebEnginePage::newWindowRequested, this,
            [](QWebEngineNewWindowRequest& request) {
                if (!request.requestedUrl().isEmpty())
                    Platform::workspace().open(request.requestedUrl());
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
        // Refuse first; the sign-in starts once the engine has the answer.
        QMetaObject::invokeMethod(
            this, [this, url] { Q_EMIT browserSignInRequested(url); }, Qt::QueuedConnection);
        return false;
    }
    return true;
}

} // namespace pinlark
