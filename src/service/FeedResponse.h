#pragma once

#include "service/SaveRow.h"

#include <QList>

#include <optional>

namespace pinlark {

// The body of the recent-saves feed.
struct FeedResponse {
    std::optional<QList<SaveRow>> saves;

    bool operator==(const FeedResponse&) const = default;

    // Throws DecodingError; one malformed element fails the whole feed.
    static FeedResponse decode(const QByteArray& json);
};

} // namespace pinlark
