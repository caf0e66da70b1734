// A second process for the cookie-store tests: runs one step against the shared web profile
// and exits, so that what persists across processes is what is tested.
//   cookie_peer insert NAME VALUE DOMAIN [EXPIRES_MS|secure|httponly]...
//   cookie_peer delete NAME DOMAIN
//   cookie_peer list              prints one "name=value domain path[ secure][ httponly]" line
//                                 per cookie
//   cookie_peer load URL          loads URL in a page of the shared profile; prints "session
//                                 changed" once the store announces a session cookie's change
//   cookie_peer bearer            prints the session token, or "(none)"
//   cookie_peer delete-load NAME DOMAIN URL
//                                 deletes a cookie before the web engine has started, then loads
//                                 URL
#include "platform/Async.h"
#include "platform/Platform.h"
#include "platform/WebProfile.h"
#include "platform/linux/LinuxPlatform.h"
#include "session/Session.h"

#include <QApplication>
#include <QDateTime>
#include <QTimer>
#include <QWebEnginePage>

#include <cstdio>
#include <utility>

using namespace pinlark;
using namespace Qt::StringLiterals;

namespace {

QNetworkCookie makeCookie(const QStringList& args, int at) {
    QNetworkCookie c(args.value(at).toUtf8(), args.value(at + 1).toUtf8());
    c.setDomain(args.value(at + 2));
    c.setPath(u"/"_s);
    for (const QString& flag : args.mid(at + 3))
        flag == "secure"_L1 ? c.setSecure(true)
        : flag == "httponly"_L1
            ? c.setHttpOnly(true)
            : c.setExpirationDate(QDateTime::fromMSecsSinceEpoch(flag.toLongLong()));
    return c;
}

QCoro::Task<int> run(QStringList args) {
    const QString step = args.value(1);
    CookieStore& store = Platform::cookieStore();
    if (step == "insert"_L1) {
        Completion<> done;
        store.setCookie(makeCookie(args, 2), [done]() mutable { done(); });
        co_await done;
    } else if (step == "delete"_L1 || step == "delete-load"_L1) {
        Completion<> done;
        QNetworkCookie cookie(args.value(2).toUtf8());
        cookie.setDomain(args.value(3));
        cookie.setPath(u"/"_s);
        store.deleteCookie(cookie, [done]() mutable { done(); });
        co_await done;
        if (step == "delete-load"_L1) {
            const QStringList load{args.value(0), QStringLiteral("load"), args.value(4)};
            const int status = co_await run(load);
            co_return status;
        }
    } else if (step == "list"_L1) {
        Completion<QList<QNetworkCookie>> done;
        store.getAllCookies([done](QList<QNetworkCookie> c) mutable { done(std::move(c)); });
        for (const QNetworkCookie& c : co_await done)
            std::printf("%s=%s %s %s%s%s\n", c.name().constData(), c.value().constData(),
                        qPrintable(c.domain()), qPrintable(c.path()), c.isSecure() ? " secure" : "",
                        c.isHttpOnly() ? " httponly" : "");
    } else if (step == "load"_L1) {
        Session::watch(QCoreApplication::instance(), [told = false]() mutable {
            if (!std::exchange(told, true))
                std::printf("session changed\n");
        });
        QWebEnginePage page(sharedWebProfile());
        Completion<bool> loaded;
        QObject::connect(&page, &QWebEnginePage::loadFinished,
                         [loaded](bool ok) mutable { loaded(ok); });
        page.load(QUrl(args.value(2)));
        if (!co_await loaded)
            co_return 2;
    } else if (step == "bearer"_L1) {
        const auto token = co_await Session::bearer();
        std::printf("%s\n", token ? qPrintable(*token) : "(none)");
    } else {
        co_return 64;
    }
    co_return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    LinuxPlatform::install();
    int status = 1;
    auto body = [&]() -> QCoro::Task<> {
        status = co_await run(app.arguments());
        // Let the web engine hand queued cookie changes to its store before leaving.
        QTimer::singleShot(200, &app, &QCoreApplication::quit);
    };
    auto task = body();
    QTimer::singleShot(30000, &app, [&] { app.exit(3); });
    const int loop = app.exec();
    std::fflush(stdout);
    Platform::reset();
    return loop == 3 ? 3 : status;
}
