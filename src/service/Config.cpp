#include "service/Config.h"

#include "Product.h"
#include "platform/Platform.h"

#include <mutex>

namespace pinlark {

namespace {
// Characters a path segment may hold besides the unreserved ones, and the segment separator.
const QByteArray pathAllowed = QByteArrayLiteral("!$&'()*+,;=:@/");
} // namespace

const QUrl& Config::productionOrigin() {
    static const QUrl url(QString::fromLatin1(Product::productionOrigin));
    return url;
}

namespace {
std::mutex originMutex;
std::optional<QUrl> resolvedOrigin;
} // namespace

const QUrl& Config::origin() {
    std::lock_guard lock(originMutex);
    if (!resolvedOrigin)
        resolvedOrigin = resolveOrigin(Platform::defaults().string(QStringLiteral("origin")));
    return *resolvedOrigin;
}

void Config::forgetOrigin() {
    std::lock_guard lock(originMutex);
    resolvedOrigin.reset();
}

QUrl Config::resolveOrigin(const std::optional<QString>& override) {
    if (!override)
        return productionOrigin();
    const QUrl url(*override, QUrl::StrictMode);
    if (override->isEmpty() || !url.isValid() || url.scheme().isEmpty())
        return productionOrigin();
    // The test is on the scheme as written: QUrl lower-cases what it parses.
    if (!override->startsWith(QLatin1String("http")))
        return productionOrigin();
    return url;
}

QUrl Config::api(const QString& path, const QList<QueryItem>& query) {
    return appending(origin(), path, query);
}

QUrl Config::appending(const QUrl& base, const QString& path, const QList<QueryItem>& query) {
    QUrl url = base;
    QString basePath = base.path(QUrl::FullyEncoded);
    if (!basePath.endsWith(QLatin1Char('/')))
        basePath += QLatin1Char('/');
    QString relative = path;
    if (relative.startsWith(QLatin1Char('/')))
        relative.remove(0, 1);
    url.setPath(basePath + QString::fromLatin1(QUrl::toPercentEncoding(relative, pathAllowed)),
                QUrl::TolerantMode);
    if (!query.isEmpty()) {
        QStringList items;
        for (const QueryItem& item : query) {
            QString text = QString::fromLatin1(QUrl::toPercentEncoding(item.name));
            if (item.value)
                text +=
                    QLatin1Char('=') + QString::fromLatin1(QUrl::toPercentEncoding(*item.value));
            items.append(text);
        }
        url.setQuery(items.join(QLatin1Char('&')), QUrl::TolerantMode);
    }
    return url;
}

} // namespace pinlark
