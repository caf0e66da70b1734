#pragma once

#include "platform/Workspace.h"

#include <QString>
#include <QStringList>

namespace pinlark {

// Opens URLs as command-line tools do: with the commands of $BROWSER first (a colon-separated
// list of commands, each split into words at spaces with double quotes grouping, and given the
// URL in place of "%s", or after its arguments when it has no "%s"), the first that starts;
// otherwise through the desktop with xdg-open. No shell is involved: the URL is always one argument.
class BrowserWorkspace : public Workspace {
public:
    // The commands to try for `url`, in order, each a program and its arguments.
    static QList<QStringList> commands(const QString& browserVariable, const QString& url);

protected:
    bool openExternally(const QUrl& url) override;
};

} // namespace pinlark
