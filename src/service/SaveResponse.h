#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace pinlark {

// The body of a successful save.
struct SaveResponse {
    QString id;
    std::optional<bool> existing;

    bool operator==(const SaveResponse&) const = default;

    // Throws DecodingError.
    static SaveResponse decode(const QByteArray& json);
};

} // namespace pinlark
