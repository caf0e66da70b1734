#pragma once

#include <QString>

#include <optional>

namespace pinlark {

// The local page the library window shows when its page could not be loaded.
class ErrorPage {
public:
    // Chromium's net::ERR_ABORTED: the load was cancelled (refused by the navigation policy,
    // or replaced by a newer load). Not a failure the user needs to see.
    static constexpr int abortedCode = -3;

    // The document for a failed load with the engine's description of the failure; none when
    // the load was cancelled.
    static std::optional<QString> forFailure(int errorCode, const QString& description);

    // The document with `description` as the first paragraph, HTML-escaped.
    static QString html(const QString& description);
};

} // namespace pinlark
