#pragma once

#include <QCoro/QCoroTask>
#include <QUrl>

namespace pinlark {

// Opens URLs with the user's default applications (the browser for web links).
class Workspace {
public:
    virtual ~Workspace() = default;

    // Whether the URL was handed to an application: known once the program that hands it over
    // has said so, which the caller need not wait for. Only web and mail links leave the app
    // (`leavesApp`); any other link is refused with a log line and handed to nothing.
    QCoro::Task<bool> open(QUrl url);

    // Whether the desktop may be given `url`: an http, https or mailto link.
    static bool leavesApp(const QUrl& url);

protected:
    // Hands a link that may leave the app to the desktop.
    virtual QCoro::Task<bool> openExternally(QUrl url) = 0;
};

} // namespace pinlark
