#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace pinlark {

// The update manifest the service publishes at "api/mac/version": the newest release.
struct Manifest {
    QString version;
    // Path of the release archive on the origin; none when the app can't install it itself.
    std::optional<QString> url;
    // Path of the download page on the origin; none means "/download".
    std::optional<QString> page;
    // SHA-256 of the archive in hexadecimal; none or empty means no digest to compare.
    std::optional<QString> sha256;

    // Strict decoding: "version" required, every member a string when present (null is none),
    // unknown members ignored. Throws DecodingError.
    static Manifest decode(const QByteArray& bytes);

    bool operator==(const Manifest&) const = default;
};

} // namespace pinlark
