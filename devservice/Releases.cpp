#include "Releases.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>

namespace pinlark::devservice {

Releases::Releases(QString folder)
    : m_folder(std::move(folder)) {}

bool Releases::isAbove(const QString& a, const QString& b) {
    const QStringList pa = a.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    const QStringList pb = b.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < std::max(pa.size(), pb.size()); ++i) {
        const qlonglong x = i < pa.size() ? pa[i].toLongLong() : 0;
        const qlonglong y = i < pb.size() ? pb[i].toLongLong() : 0;
        if (x != y)
            return x > y;
    }
    return false;
}

std::optional<QJsonObject> Releases::newest() const {
    if (m_folder.isEmpty())
        return std::nullopt;
    std::optional<QJsonObject> best;
    const QDir dir(m_folder);
    for (const QString& name : dir.entryList({QStringLiteral("*.json")}, QDir::Files)) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QJsonObject manifest = QJsonDocument::fromJson(file.readAll()).object();
        const QJsonValue version = manifest.value(QLatin1String("version"));
        if (!version.isString())
            continue;
        if (!best || isAbove(version.toString(), best->value(QLatin1String("version")).toString()))
            best = manifest;
    }
    return best;
}

std::optional<QByteArray> Releases::archive(const QString& name) const {
    static const QRegularExpression plainName(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9._-]*$"));
    if (m_folder.isEmpty() || !plainName.match(name).hasMatch() ||
        name.endsWith(QLatin1String(".json")))
        return std::nullopt;
    QFile file(QDir(m_folder).filePath(name));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

} // namespace pinlark::devservice
