#include "library/Dashboard.h"

#include "library/DashboardPage.h"
#include "library/ErrorPage.h"
#include "library/LoadBar.h"
#include "library/NavigationPolicy.h"
#include "library/WindowFrame.h"
#include "platform/Platform.h"
#include "platform/WebProfile.h"
#include "session/Connect.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QGuiApplication>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWebEngineLoadingInfo>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineView>
#include <QWindow>

#include <utility>

namespace pinlark {

const char Dashboard::userAgent[] =
    "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15 (KHTML, like Gecko) "
    "Version/18.3 Safari/605.1.15";
const char Dashboard::frameKey[] = "PinlarkDashboardFrame";

namespace {
constexpr QSize contentSize(1120, 780);
constexpr QSize minimumSize(580, 460);
constexpr int loadBarHeight = 2;
// The window manager's decorations around the window, as far as they can be told before it has
// been shown once: a title bar and thin borders.
constexpr QMargins decorationAllowance(4, 32, 4, 4);
// How often, and how long apart, a window just shown is asked for its frame until the window
// manager has framed it.
constexpr int frameChecks = 20;
constexpr auto frameCheckInterval = std::chrono::milliseconds(50);
constexpr auto loadTimeout = std::chrono::seconds(60);
const char windowTitle[] = "Pinlark";
Dashboard* instance = nullptr;
} // namespace

Dashboard& Dashboard::shared() {
    if (!instance)
        instance = new Dashboard;
    return *instance;
}

LibraryWindow::Module Dashboard::module() {
    return {[]() -> LibraryWindow::Controller& { return shared(); },
            []() -> LibraryWindow::Controller* { return instance; }};
}

Dashboard::Dashboard() {
    buildWebView();
    buildWindow();
    load(LibraryWindow::homeURL());
    // The engine releases its profiles as the application ends; the page must be gone by then.
    connect(qApp, &QCoreApplication::aboutToQuit, this, &Dashboard::release);
}

void Dashboard::release() {
    delete std::exchange(instance, nullptr);
}

Dashboard::~Dashboard() {
    delete m_window;
}

bool Dashboard::isInApp(const QUrl& url) {
    return NavigationPolicy::isInApp(url);
}

bool Dashboard::isIdentityProvider(const QUrl& url) {
    return NavigationPolicy::isIdentityProvider(url);
}

void Dashboard::buildWebView() {
    QWebEngineProfile* profile = sharedWebProfile();
    profile->setHttpUserAgent(QLatin1String(userAgent));
    m_webView = new QWebEngineView;
    auto* page = new DashboardPage(profile, m_webView);
    m_webView->setPage(page);
    connect(page, &DashboardPage::browserSignInRequested, this, &Dashboard::browserSignInRequested);
    connect(this, &Dashboard::browserSignInRequested, this, [] { Connect::begin(); });
    connect(page, &QWebEnginePage::loadProgress, this,
            [this](int percent) { m_bar->setValue(percent / 100.0); });
    connect(page, &QWebEnginePage::loadingChanged, this, &Dashboard::loadingChanged);
    // The engine reports the new URL once the page's document has committed, not while its
    // request is pending: from then on a slow image, script or frame is the page's own affair.
    connect(page, &QWebEnginePage::urlChanged, this, [this] { m_loadTimeout.reset(); });
    connect(page, &QWebEnginePage::titleChanged, this, &Dashboard::titleChanged);
    // The engine recommends active while the page is shown or loading, and something less once
    // it is hidden and done; it takes the page back to active by itself when the window shows
    // or a load starts.
    connect(page, &QWebEnginePage::recommendedStateChanged, this, &Dashboard::settleLifecycle);
}

void Dashboard::buildWindow() {
    m_window = new QWidget;
    m_window->setWindowTitle(QLatin1String(windowTitle));
    m_window->setMinimumSize(minimumSize);
    m_webView->page()->setBackgroundColor(m_window->palette().color(QPalette::Window));

    // The primary screen first: a window with no frame of its own to return to opens there.
    QList<QRect> screens;
    if (const QScreen* primary = QGuiApplication::primaryScreen())
        screens.append(primary->availableGeometry());
    for (const QScreen* screen : QGuiApplication::screens())
        if (screen != QGuiApplication::primaryScreen())
            screens.append(screen->availableGeometry());
    m_window->setGeometry(WindowFrame::initial(Platform::defaults().string(QLatin1String(frameKey)),
                                               screens, contentSize, minimumSize,
                                               decorationAllowance));

    // The bar shares the web view's cell, pinned to its top edge; added last, it lies above.
    auto* layout = new QGridLayout(m_window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_bar = new LoadBar;
    m_bar->setFixedHeight(loadBarHeight);
    layout->addWidget(m_webView, 0, 0);
    layout->addWidget(m_bar, 0, 0, Qt::AlignTop);
    layout->setMenuBar(LibraryWindow::menuBar());

    m_window->installEventFilter(this);
    connect(qApp, &QCoreApplication::aboutToQuit, this, &Dashboard::saveFrame);
}

void Dashboard::show(bool quietly) {
    m_discardTimer.reset();
    m_discardDue = false;
    QWebEnginePage* page = m_webView->page();
    // A discarded page kept its address and history. Made active, the engine would bring its
    // entry back from the cache as for a step back in history; reloaded, it asks the service,
    // so saves made meanwhile show.
    if (page->lifecycleState() == QWebEnginePage::LifecycleState::Discarded &&
        !m_showingErrorPage && !m_webView->url().isEmpty()) {
        page->setLifecycleState(QWebEnginePage::LifecycleState::Active);
        page->triggerAction(QWebEnginePage::Reload);
        armLoadTimeout();
    }
    Platform::activationPolicy().setPolicy(ActivationPolicy::Policy::Regular);
    m_window->setAttribute(Qt::WA_ShowWithoutActivating, quietly);
    m_window->show();
    if (!quietly) {
        m_window->raise();
        m_window->activateWindow();
        Platform::activationPolicy().activate();
    }
    if (m_webView->url().isEmpty() || m_showingErrorPage)
        load(LibraryWindow::homeURL());
}

bool Dashboard::isVisible() const {
    return m_window->isVisible();
}

void Dashboard::reload() {
    m_webView->page()->triggerAction(QWebEnginePage::ReloadAndBypassCache);
}

void Dashboard::back() {
    m_webView->back();
}

void Dashboard::forward() {
    m_webView->forward();
}

bool Dashboard::edit(QWidget* focus, LibraryWindow::Edit edit) {
    using Edit = LibraryWindow::Edit;
    using Action = QWebEnginePage::WebAction;
    static constexpr std::pair<Edit, Action> actions[] = {
        {Edit::Undo, Action::Undo},   {Edit::Redo, Action::Redo},
        {Edit::Cut, Action::Cut},     {Edit::Copy, Action::Copy},
        {Edit::Paste, Action::Paste}, {Edit::SelectAll, Action::SelectAll},
    };
    for (QWidget* w = focus; w; w = w->parentWidget()) {
        if (w == m_webView) {
            for (const auto& [which, action] : actions)
                if (which == edit)
                    m_webView->page()->triggerAction(action);
            return true;
        }
    }
    return false;
}

void Dashboard::hide() {
    saveFrame();
    m_window->hide();
    if (!m_discardTimer)
        m_discardTimer = Platform::clock().startTimer(discardAfter, false, [this] {
            m_discardDue = true;
            settleLifecycle();
        });
    QTimer::singleShot(0, this, [this] {
        if (!m_window->isVisible())
            Platform::activationPolicy().setPolicy(ActivationPolicy::Policy::Accessory);
    });
}

void Dashboard::load(const QUrl& url) {
    m_showingErrorPage = false;
    m_webView->load(url);
    armLoadTimeout();
}

void Dashboard::armLoadTimeout() {
    m_loadTimeout = Platform::clock().startTimer(loadTimeout, false, [this] {
        showErrorPage(ErrorPage::html(QStringLiteral("The request timed out.")));
    });
}

void Dashboard::settleLifecycle() {
    using State = QWebEnginePage::LifecycleState;
    QWebEnginePage* page = m_webView->page();
    const State recommended = page->recommendedState();
    if (recommended == State::Active) {
        page->setLifecycleState(State::Active);
        return;
    }
    // A recommendation can trail the window being shown again; a visible page stays.
    if (page->isVisible())
        return;
    // Hidden a short while, the page is frozen: its timers and scripts stop, its document stays.
    // Hidden long, it is discarded where the engine allows it, giving back its memory.
    if (m_discardDue && recommended == State::Discarded) {
        if (page->lifecycleState() == State::Active)
            page->setLifecycleState(State::Frozen);
        page->setLifecycleState(State::Discarded);
    } else if (page->lifecycleState() != State::Discarded) {
        page->setLifecycleState(State::Frozen);
    }
}

void Dashboard::fitDecorations() {
    // Once the window manager has framed the window, its real frame must fit the screen's work
    // area too; only at the first showing, after which where the window goes is the user's. The
    // frame may come a moment after the window has shown (openbox's does at times): until it has,
    // or until it is clear that none comes, asked again a little later.
    const QWindow* handle = m_window->windowHandle();
    const QScreen* screen = m_window->screen();
    if (!handle || !screen || !m_window->isVisible())
        return;
    if (handle->frameMargins().isNull() && ++m_frameChecks < frameChecks) {
        QTimer::singleShot(frameCheckInterval, this, &Dashboard::fitDecorations);
        return;
    }
    const QRect fitted = WindowFrame::fit(m_window->geometry(), handle->frameMargins(),
                                          screen->availableGeometry(), minimumSize);
    if (fitted != m_window->geometry())
        m_window->setGeometry(fitted);
}

bool Dashboard::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_window && event->type() == QEvent::Show && !std::exchange(m_fitted, true))
        QTimer::singleShot(0, this, &Dashboard::fitDecorations);
    if (watched == m_window && event->type() == QEvent::Close) {
        event->ignore();
        hide();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void Dashboard::loadingChanged(const QWebEngineLoadingInfo& info) {
    switch (info.status()) {
    case QWebEngineLoadingInfo::LoadStartedStatus:
        if (info.url().scheme() != QLatin1String("data"))
            m_showingErrorPage = false;
        return;
    case QWebEngineLoadingInfo::LoadStoppedStatus:
        // No content (204), a download, a stop, a navigation refused: nothing left to wait for.
        m_loadTimeout.reset();
        m_bar->setValue(0);
        return;
    case QWebEngineLoadingInfo::LoadSucceededStatus:
        m_loadTimeout.reset();
        m_bar->setValue(0);
        return;
    case QWebEngineLoadingInfo::LoadFailedStatus:
        m_loadTimeout.reset();
        m_bar->setValue(0);
        // An HTTP error status still shows the server's own page.
        if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain)
            return;
        if (const auto html = ErrorPage::forFailure(info.errorCode(), info.errorString()))
            showErrorPage(*html);
        return;
    }
}

void Dashboard::showErrorPage(const QString& html) {
    m_webView->setHtml(html, QUrl());
    m_showingErrorPage = true;
}

void Dashboard::titleChanged() {
    // For a document without a title the engine reports one made from the URL ("host/path",
    // "about:blank"); ask the document for its own.
    m_webView->page()->runJavaScript(
        QStringLiteral("document.title"), QWebEngineScript::ApplicationWorld,
        [window = QPointer<QWidget>(m_window)](const QVariant& title) {
            if (window)
                window->setWindowTitle(windowTitleFor(title.toString().trimmed()));
        });
}

QString Dashboard::windowTitleFor(const QString& title) {
    if (title.isEmpty() || title == QLatin1String(windowTitle))
        return QLatin1String(windowTitle);
#ifdef Q_OS_MACOS
    return title;
#else
    return title + QStringLiteral(" \u2014 ") + QLatin1String(windowTitle);
#endif
}

void Dashboard::saveFrame() {
    Platform::defaults().set(QLatin1String(frameKey), WindowFrame::encode(m_window->geometry()));
}

} // namespace pinlark
