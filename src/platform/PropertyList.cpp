#include "platform/PropertyList.h"

#include <QDateTime>
#include <QFile>

#include <plist/plist++.h>

#include <memory>

namespace pinlark {

namespace {

constexpr qint64 maxSize = 8 * 1024 * 1024;

QVariant toVariant(const PList::Node* node) {
    switch (node->GetType()) {
    case PLIST_DICT: {
        QVariantMap map;
        const auto* dict = static_cast<const PList::Dictionary*>(node);
        for (auto it = dict->Begin(); it != dict->End(); ++it)
            map.insert(QString::fromStdString(it->first), toVariant(it->second));
        return map;
    }
    case PLIST_ARRAY: {
        QVariantList list;
        const auto* array = static_cast<const PList::Array*>(node);
        for (uint32_t i = 0; i < array->GetSize(); ++i)
            list.append(toVariant((*const_cast<PList::Array*>(array))[i]));
        return list;
    }
    case PLIST_STRING:
        return QString::fromStdString(static_cast<const PList::String*>(node)->GetValue());
    case PLIST_UINT:
        return qint64(static_cast<const PList::Integer*>(node)->GetValue());
    case PLIST_BOOLEAN:
        return static_cast<const PList::Boolean*>(node)->GetValue();
    case PLIST_REAL:
        return static_cast<const PList::Real*>(node)->GetValue();
    case PLIST_DATA: {
        const std::vector<char> bytes = static_cast<const PList::Data*>(node)->GetValue();
        return QByteArray(bytes.data(), qsizetype(bytes.size()));
    }
    case PLIST_DATE: {
        const timeval t = static_cast<const PList::Date*>(node)->GetValue();
        // Property-list dates count from 2001-01-01.
        return QDateTime::fromSecsSinceEpoch(qint64(t.tv_sec) + 978307200, Qt::UTC);
    }
    default:
        return {};
    }
}

std::unique_ptr<PList::Node> toNode(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::QVariantMap: {
        auto dict = std::make_unique<PList::Dictionary>();
        const QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it)
            if (auto child = toNode(it.value()))
                dict->Set(it.key().toStdString(), child.get());
        return dict;
    }
    case QMetaType::Bool:
        return std::make_unique<PList::Boolean>(value.toBool());
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return std::make_unique<PList::Integer>(uint64_t(value.toLongLong()));
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return std::make_unique<PList::Data>(std::vector<char>(bytes.begin(), bytes.end()));
    }
    default:
        return std::make_unique<PList::String>(value.toString().toStdString());
    }
}

} // namespace

std::optional<QVariant> parsePropertyList(const QByteArray& bytes) {
    if (bytes.size() > maxSize)
        return std::nullopt;
    std::unique_ptr<PList::Structure> root;
    if (bytes.startsWith("bplist00"))
        root.reset(PList::Structure::FromBin(std::vector<char>(bytes.begin(), bytes.end())));
    else
        root.reset(PList::Structure::FromXml(bytes.toStdString()));
    if (!root)
        return std::nullopt;
    return toVariant(root.get());
}

std::optional<QVariant> readPropertyList(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > maxSize)
        return std::nullopt;
    return parsePropertyList(file.readAll());
}

QByteArray xmlPropertyList(const QVariantMap& map) {
    const auto root = toNode(map);
    return QByteArray::fromStdString(static_cast<PList::Structure*>(root.get())->ToXml());
}

} // namespace pinlark
