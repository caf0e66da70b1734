#include "service/JsonReader.h"

#include "service/DecodingError.h"

#include <QJsonDocument>

namespace pinlark {

JsonReader JsonReader::parse(const QByteArray& bytes) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        throw DecodingError(QStringLiteral("not JSON: %1").arg(error.errorString()));
    if (!document.isObject())
        throw DecodingError(QStringLiteral("not a JSON object"));
    return JsonReader(document.object());
}

std::optional<QJsonValue> JsonReader::member(QLatin1String name, QJsonValue::Type type) const {
    const QJsonValue value = m_object.value(name);
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    if (value.type() != type)
        throw DecodingError(QStringLiteral("member \"%1\" has the wrong type").arg(name));
    return value;
}

QString JsonReader::string(QLatin1String name) const {
    const auto value = member(name, QJsonValue::String);
    if (!value)
        throw DecodingError(QStringLiteral("missing member \"%1\"").arg(name));
    return value->toString();
}

std::optional<QString> JsonReader::optionalString(QLatin1String name) const {
    const auto value = member(name, QJsonValue::String);
    return value ? std::optional(value->toString()) : std::nullopt;
}

std::optional<bool> JsonReader::optionalBool(QLatin1String name) const {
    const auto value = member(name, QJsonValue::Bool);
    return value ? std::optional(value->toBool()) : std::nullopt;
}

std::optional<QJsonArray> JsonReader::optionalArray(QLatin1String name) const {
    const auto value = member(name, QJsonValue::Array);
    return value ? std::optional(value->toArray()) : std::nullopt;
}

std::optional<QStringList> JsonReader::optionalStringList(QLatin1String name) const {
    const auto array = optionalArray(name);
    if (!array)
        return std::nullopt;
    QStringList list;
    list.reserve(array->size());
    for (const QJsonValue& element : *array) {
        if (!element.isString())
            throw DecodingError(QStringLiteral("member \"%1\" holds a non-string").arg(name));
        list.append(element.toString());
    }
    return list;
}

} // namespace pinlark
