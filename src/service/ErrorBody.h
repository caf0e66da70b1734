#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace pinlark {

// The body the service sends with a non-success status.
struct ErrorBody {
    std::optional<QString> error;
    std::optional<QString> message;

    bool operator==(const ErrorBody&) const = default;

    // Throws DecodingError.
    static ErrorBody decode(const QByteArray& json);
};

} // namespace pinlark
