// Shows the library window on the stand-in service's saves page and stays until it has loaded,
// so `/usr/bin/time -v build/bench/bench_library` gives the peak memory of that process.
#include "library/Dashboard.h"
#include "platform/Platform.h"
#include "platform/fake/FakeServices.h"
#include "platform/qt/SystemClock.h"
#include "platform/qt/WebEngineCookieStore.h"
#include "support/DevService.h"
#include "support/Xvfb.h"

#include <QApplication>
#include <QTimer>
#include <QWebEngineView>

#include <cstdio>
#include <optional>

using namespace pinlark;

int main(int argc, char** argv) {
    // Without a display of the user's, a private X server like the tests'.
    std::optional<XvfbServer> xvfb;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        xvfb.emplace(QStringLiteral("1280x800x24"));
        xvfb->useForApp();
    }
    QApplication app(argc, argv);
    DevService service;
    if (!service.isRunning()) {
        std::fprintf(stderr, "the stand-in service did not start\n");
        return 1;
    }
    const QString token = service.signIn();

    Platform::Services s;
    auto defaults = std::make_unique<FakeUserDefaults>();
    defaults->set(QStringLiteral("origin"), service.origin().toString());
    s.defaults = std::move(defaults);
    auto cookies = std::make_unique<WebEngineCookieStore>();
    QNetworkCookie session("authjs.session-token", token.toUtf8());
    session.setDomain(service.origin().host());
    session.setPath(QStringLiteral("/"));
    cookies->setCookie(session, [] {});
    s.cookieStore = std::move(cookies);
    s.clock = std::make_unique<SystemClock>();
    s.workspace = std::make_unique<FakeWorkspace>();
    s.activationPolicy = std::make_unique<FakeActivationPolicy>();
    Platform::install(std::move(s));

    Dashboard& dashboard = Dashboard::shared();
    dashboard.show();
    int status = 1;
    QObject::connect(dashboard.webView(), &QWebEngineView::loadFinished, &app, [&](bool) {
        if (dashboard.webView()->url() != LibraryWindow::homeURL())
            return;
        status = 0;
        // Let the page settle and paint before leaving.
        QTimer::singleShot(2000, &app, &QCoreApplication::quit);
    });
    QTimer::singleShot(30000, &app, &QCoreApplication::quit);
    app.exec();
    std::printf("%s %s\n", status == 0 ? "loaded" : "did not load",
                qPrintable(dashboard.window()->windowTitle()));
    return status;
}
