#include "update/Verification.h"

#include "platform/Error.h"
#include "platform/Log.h"
#include "platform/Platform.h"
#include "platform/PropertyList.h"
#include "platform/Sha256.h"
#include "update/Failure.h"
#include "update/Installer.h"
#include "update/Updater.h"

#include <QDir>
#include <QFileInfo>

namespace pinlark::Verification {

QString verify(const QString& zip, const QString& work, const QString& expectedVersion,
               const std::optional<QString>& sha256) {
    if (sha256 && !sha256->isEmpty()) {
        const auto digest = Sha256::ofFile(zip);
        if (!digest)
            throw PlatformError(
                QStringLiteral("The file “%1” couldn't be opened.").arg(QFileInfo(zip).fileName()));
        const QString computed = QString::fromLatin1(*digest);
        if (computed.compare(*sha256, Qt::CaseInsensitive) != 0) {
            logLine(QStringLiteral("[updater] checksum mismatch: got %1, expected %2")
                        .arg(computed, *sha256));
            throw Failure::corrupt();
        }
    }

    const QString unpacked = work + QLatin1String("/unpacked");
    if (!Installer::run(QStringLiteral("/usr/bin/ditto"),
                        {QStringLiteral("-x"), QStringLiteral("-k"), zip, unpacked}))
        throw Failure::unpack();

    QString bundle;
    const QDir folder(unpacked);
    if (!folder.exists())
        throw Failure::unpack();
    for (const QString& name : folder.entryList(
             QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        if (QFileInfo(name).suffix() == QLatin1String("app")) {
            bundle = folder.filePath(name);
            break;
        }
    }
    if (bundle.isEmpty())
        throw Failure::unpack();

    const auto info = readPropertyList(bundle + QLatin1String("/Contents/Info.plist"));
    if (!info || info->typeId() != QMetaType::QVariantMap)
        throw Failure::unpack();
    const QVariantMap dictionary = info->toMap();
    const QVariant version = dictionary.value(QStringLiteral("CFBundleShortVersionString"));
    if (version.typeId() != QMetaType::QString)
        throw Failure::unpack();
    const QString found = version.toString();
    if (found != expectedVersion)
        throw Failure::wrongVersion(expectedVersion, found);
    if (!Updater::isNewer(found, Updater::currentVersion()))
        throw Failure::notAnUpgrade(found);

    const QVariant id = dictionary.value(QStringLiteral("CFBundleIdentifier"));
    const std::optional<QString> theirs =
        id.typeId() == QMetaType::QString ? std::optional(id.toString()) : std::nullopt;
    if (theirs != Platform::bundle().identifier())
        throw Failure::unpack();

    CodeSignature& signature = Platform::codeSignature();
    if (!signature.createStaticCode(bundle) ||
        !signature.checkValidity(bundle, CodeSignature::CheckAllArchitectures |
                                             CodeSignature::CheckNestedCode))
        throw Failure::brokenSignature();
    return bundle;
}

} // namespace pinlark::Verification
