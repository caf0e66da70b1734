#pragma once

#include "platform/Workspace.h"

namespace pinlark {

// Opens URLs as command-line tools do: with the commands of $BROWSER first (a colon-separated
// list of commands, each split into words at spaces with double quotes grouping, and given the
// URL in place of "%s", or after its arguments when it has no "%s"); otherwise through the
// desktop with xdg-open. No shell is involved: the URL is always one argument. Each command
// counts as done when it exits with status 0, or is still running after ten seconds (xdg-open
// without a desktop runs the browser in front of itself); otherwise the next is tried.
//
// Pinlark's desktop entry declares no scheme, but a user may still make it the desktop's handler
// for web links, and every link would come back to the app. A link never goes to Pinlark: when the
// desktop's handler for the link's scheme is Pinlark's entry, it goes to the next application
// registered for the scheme, else to the x-www-browser alternative, else nowhere. Asking the
// desktop (xdg-mime and gio, up to three seconds each) happens on a thread of its own.
class BrowserWorkspace : public Workspace {
protected:
    QCoro::Task<bool> openExternally(QUrl url) override;
};

} // namespace pinlark
