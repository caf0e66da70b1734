#pragma once

#include <QUrl>

namespace pinlark {

// Opens URLs with the user's default applications (the browser for web links).
class Workspace {
public:
    virtual ~Workspace() = default;

    // Whether the URL was handed to an application. Only web and mail links leave the app
    // (`leavesApp`); any other link is refused with a log line and handed to nothing.
    bool open(const QUrl& url);

    // Whether the desktop may be given `url`: an http, https or mailto link.
    static bool leavesApp(const QUrl& url);

protected:
    // Hands a link that may leave the app to the desktop.
    virtual bool openExternally(const QUrl& url) = 0;
};

} // namespace pinlark
