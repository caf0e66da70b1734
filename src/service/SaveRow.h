#pragma once

#include "service/SaveOutcome.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace pinlark {

// One saved link as the service reports it. Rows with the same id are the same item.
struct SaveRow {
    QString id;
    std::optional<QString> url, platform, status, title, synopsis;
    std::optional<QStringList> tags;
    std::optional<QString> error;

    bool operator==(const SaveRow&) const = default;

    // The one-line label: the trimmed title; else "Screenshot" for a screenshot reference, the
    // link's host without "www.", or the link itself when it has no host; else the id.
    QString display() const;
    // Whether the link can be opened in the browser: it parses as a web or mail link (a
    // screenshot reference or a link of any other scheme stays in the list, unopened).
    bool isOpenable() const;

    // Throws DecodingError.
    static SaveRow decode(const QByteArray& json);
    static SaveRow fromJson(const QJsonObject& object);
};

} // namespace pinlark
