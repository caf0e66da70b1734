#pragma once

#include <QWebEnginePage>

namespace pinlark {

// The library window's page: applies the navigation policy and sends pop-ups to the browser
// (or, for an identity provider, to the browser sign-in).
class DashboardPage : public QWebEnginePage {
    Q_OBJECT
public:
    DashboardPage(QWebEngineProfile* profile, QObject* parent);

Q_SIGNALS:
    // A top-level navigation to an identity provider was refused; the sign-in belongs in the
    // browser.
    void browserSignInRequested(const QUrl& url);

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;

private:
    void requestBrowserSignIn(const QUrl& url);
};

} // namespace pinlark
