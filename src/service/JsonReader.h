#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QLatin1String>
#include <QStringList>

#include <optional>

namespace pinlark {

// Strict reading of the service's JSON objects: members named exactly, unknown ones ignored,
// absent or null optional members empty, and a member of the wrong JSON type a DecodingError.
class JsonReader {
public:
    explicit JsonReader(QJsonObject object)
        : m_object(std::move(object)) {}
    // The object that `bytes` hold; DecodingError when they are not JSON or not an object.
    static JsonReader parse(const QByteArray& bytes);
    const QJsonObject& object() const { return m_object; }

    QString string(QLatin1String name) const;
    std::optional<QString> optionalString(QLatin1String name) const;
    std::optional<bool> optionalBool(QLatin1String name) const;
    std::optional<QStringList> optionalStringList(QLatin1String name) const;
    std::optional<QJsonArray> optionalArray(QLatin1String name) const;

private:
    // The member's value, none when absent or null, DecodingError when not of `type`.
    std::optional<QJsonValue> member(QLatin1String name, QJsonValue::Type type) const;

    QJsonObject m_object;
};

} // namespace pinlark
