#include "platform/Workspace.h"

#include "platform/Log.h"

namespace pinlark {

bool Workspace::leavesApp(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
                             scheme == QLatin1String("mailto"));
}

QCoro::Task<bool> Workspace::open(QUrl url) {
    if (!leavesApp(url)) {
        // The scheme alone: the rest of a link is the user's business, not the log's.
        logLine(QStringLiteral("[Pinlark] not opening a \"%1\" link: only web and mail links "
                               "leave the app")
                    .arg(url.scheme().left(40)));
        co_return false;
    }
    co_return co_await openExternally(url);
}

} // namespace pinlark
