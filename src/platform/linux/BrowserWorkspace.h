#pragma once

#include "platform/Workspace.h"

#include <QString>
#include <QStringList>

namespace pinlark {

// Opens URLs as command-line tools do: with the commands of $BROWSER first (a colon-separated
// list of commands, each split into words at spaces with double quotes grouping, and given the
// URL in place of "%s", or after its arguments when it has no "%s"), the first that starts;
// otherwise through the desktop with xdg-open. No shell is involved: the URL is always one argument.
//
// Pinlark's desktop entry offers it for web links, so on a desktop that records no default browser
// the desktop may pick Pinlark itself, and every link would come back to the app. A link never goes
// to Pinlark: when the desktop's handler for the link's scheme is Pinlark's entry, it goes to the
// next application registered for the scheme, else to the x-www-browser alternative, else nowhere.
class BrowserWorkspace : public Workspace {
public:
    // What the desktop says about the handlers of a scheme.
    struct Handlers {
        // Whether the default handler is Pinlark's desktop entry.
        bool defaultIsPinlark = false;
        // The desktop files of the other applications registered for the scheme, in the
        // desktop's order.
        QStringList others;
        // The x-www-browser program, or empty.
        QString wwwBrowser;
    };

    // The commands of $BROWSER for `url`, in order, each a program and its arguments.
    static QList<QStringList> commands(const QString& browserVariable, const QString& url);
    // The commands to try for `url` after those, on a desktop that says `desktop`.
    static QList<QStringList> desktopCommands(const QString& url, const Handlers& desktop);

    // Asks the desktop (xdg-mime and gio, each for a few seconds at most) about `scheme`.
    static Handlers handlers(const QString& scheme);

protected:
    bool openExternally(const QUrl& url) override;
};

} // namespace pinlark
