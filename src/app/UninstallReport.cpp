#include "app/UninstallReport.h"

#include "Product.h"
#include "loginitem/LoginItem.h"
#include "platform/WebProfile.h"
#include "platform/linux/DesktopRegistration.h"
#include "platform/linux/FileUserDefaults.h"
#include "platform/qt/WebEngineCookieStore.h"
#include "quicksave/Outbox.h"

#include <QFileInfo>
#include <QStandardPaths>

#include <utility>

namespace pinlark::UninstallReport {

QString uninstall() {
    QString report;
    for (const QString& path : DesktopRegistration::unregister())
        report += QStringLiteral("Removed %1\n").arg(path);
    // Without this the next start would write the autostart entry again.
    FileUserDefaults defaults(FileUserDefaults::standardPath());
    if (defaults.boolean(QLatin1String(LoginItem::desiredKey)).value_or(false)) {
        defaults.remove(QLatin1String(LoginItem::desiredKey));
        report += QStringLiteral("Turned off Open at Login\n");
    }
    if (report.isEmpty())
        report = QStringLiteral("Pinlark had nothing registered on your desktop.\n");

    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const std::pair<const char*, QString> kept[] = {
        {"preferences", FileUserDefaults::standardPath()},
        {"outbox", Outbox::standardPath()},
        {"sign-in", WebEngineCookieStore::standardMirrorPath()},
        {"web data", webDataFolder()},
        {"web cache", webCacheFolder()},
        // The web engine's own profile, which it makes at each start.
        {"web engine", dataHome + QLatin1Char('/') + QLatin1String(Product::name)}};
    QString left;
    for (const auto& [what, path] : kept) {
        if (QFileInfo::exists(path))
            left += QStringLiteral("  %1 %2\n").arg(QLatin1String(what), -12).arg(path);
    }
    if (!left.isEmpty())
        report += QStringLiteral("Left in place; delete them for Pinlark to forget you:\n") + left;
    return report + QStringLiteral("Pinlark.app itself stays where it is.\n");
}

} // namespace pinlark::UninstallReport
