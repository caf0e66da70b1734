#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <optional>

namespace pinlark {

// Property lists (XML or binary), as information dictionaries and seals are stored. Values map
// to QVariant: dictionary QVariantMap, array QVariantList, string QString, integer qint64,
// boolean bool, real double, data QByteArray, date QDateTime.

// The property list in `bytes`; none when they are not one. A file of more than a few
// megabytes is not a bundle's property list and is refused unread.
std::optional<QVariant> parsePropertyList(const QByteArray& bytes);
std::optional<QVariant> readPropertyList(const QString& path);

// `map` as an XML property list (strings, booleans, integers, data and nested maps).
QByteArray xmlPropertyList(const QVariantMap& map);

} // namespace pinlark
