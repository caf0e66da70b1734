#include "platform/WebProfile.h"

#include "Product.h"

#include <QStandardPaths>

namespace pinlark {

QString webDataFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QLatin1Char('/') + QLatin1String(Product::bundleIdentifier);
}

QString webCacheFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QLatin1Char('/') + QLatin1String(Product::bundleIdentifier);
}

} // namespace pinlark
