#pragma once

#include "library/LibraryWindow.h"
#include "platform/Clock.h"

#include <QObject>
#include <QUrl>

#include <chrono>

#include <memory>

class QWebEngineLoadingInfo;
class QWebEngineView;
class QWidget;

namespace pinlark {

class LoadBar;

// The library window: the service's web application in a web view on the shared persistent
// profile, with the load bar over its top edge. While the window is shown the app is a regular
// application; hidden, an accessory. Closing the window only hides it.
class Dashboard : public QObject, public LibraryWindow::Controller {
    Q_OBJECT
public:
    // Created on first use (on the main thread, after the application object) and released as
    // the application quits. Creating it loads the home page.
    static Dashboard& shared();
    // What the app reaches the window through (LibraryWindow).
    static LibraryWindow::Module module();
    // Releases the window, its page and this controller; the next use makes new ones.
    static void release();
    ~Dashboard() override;

    // Shows the window in front and makes the app active, or `quietly` behind what has the
    // keyboard; loads the home page when the web view has nothing loaded or shows the error
    // page (reopening the window retries). The window carries LibraryWindow::menuBar().
    void show(bool quietly = false) override;
    // Hides the window; the app goes back to being an accessory once the current event has
    // been handled, unless the window was shown again meanwhile. The hidden page is frozen once
    // it is done loading, and discarded after `discardAfter` hidden: showing the window again
    // reloads it at the same address.
    void hide() override;
    bool isVisible() const override;
    static constexpr std::chrono::minutes discardAfter{5};

    QWebEngineView* webView() const { return m_webView; }
    QWidget* window() const { return m_window; }
    LoadBar* loadBar() const { return m_bar; }
    bool isShowingErrorPage() const { return m_showingErrorPage; }

    // Loads `url` into the web view. A load whose document has not arrived after 60 seconds is
    // given up and the error page shown.
    void load(const QUrl& url) override;
    void reload() override;
    void back() override;
    void forward() override;
    bool edit(QWidget* focus, LibraryWindow::Edit edit) override;

    static bool isInApp(const QUrl& url);
    static bool isIdentityProvider(const QUrl& url);
    // The window's title for the page's trimmed `title`: where the title bar is the only place
    // that names the app (the task list, the window switcher), the page's title and the app's
    // name, "Saves — Pinlark"; the app's name alone for a page without a title.
    static QString windowTitleFor(const QString& title);

    static const char userAgent[];
    // The user-defaults key of the window's remembered frame.
    static const char frameKey[];

Q_SIGNALS:
    // A top-level or new-window navigation to an identity provider was refused; the sign-in
    // belongs in the browser. Connected to Connect::begin().
    void browserSignInRequested(const QUrl& url);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Dashboard();
    void buildWebView();
    void buildWindow();
    void loadingChanged(const QWebEngineLoadingInfo& info);
    void titleChanged();
    void settleLifecycle();
    void armLoadTimeout();
    void showErrorPage(const QString& html);
    void saveFrame();
    void fitDecorations();

    QWidget* m_window = nullptr;
    QWebEngineView* m_webView = nullptr;
    LoadBar* m_bar = nullptr;
    bool m_showingErrorPage = false;
    bool m_fitted = false;
    int m_frameChecks = 0;
    std::unique_ptr<Clock::Timer> m_loadTimeout;
    std::unique_ptr<Clock::Timer> m_discardTimer;
    bool m_discardDue = false;
};

} // namespace pinlark
