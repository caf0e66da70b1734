#include "platform/WebProfile.h"

#include "Product.h"

#include <QByteArrayList>
#include <QStandardPaths>
#include <QWebEngineProfile>

namespace pinlark {

QWebEngineProfile* sharedWebProfile() {
    static QWebEngineProfile* profile = [] {
        const QString id = QLatin1String(Product::bundleIdentifier);
        auto* p = new QWebEngineProfile(id);
        p->setPersistentStoragePath(
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
            QLatin1Char('/') + id + QLatin1String("/WebEngine"));
        p->setCachePath(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                        QLatin1Char('/') + id + QLatin1String("/WebEngine"));
        p->setPersistentCookiesPolicy(QWebEngineProfile::ForcePersistentCookies);
        return p;
    }();
    return profile;
}

QStringList webEngineArguments() {
    return {};
}

void passWebEngineArguments() {
    // The engine takes the last value of a switch given twice: the user's own come after ours.
    const char name[] = "QTWEBENGINE_CHROMIUM_FLAGS";
    const QByteArray own = qgetenv(name);
    QByteArrayList flags;
    for (const QString& argument : webEngineArguments()) {
        const QByteArray flag = argument.toUtf8();
        const QByteArray switchName = flag.left(flag.indexOf('='));
        if (!(' ' + own).contains(' ' + switchName))
            flags.append(flag);
    }
    if (!own.trimmed().isEmpty())
        flags.append(own.trimmed());
    qputenv(name, flags.join(' '));
}

} // namespace pinlark
