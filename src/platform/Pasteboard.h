#pragma once

#include <QString>

#include <optional>

namespace pinlark {

// The general pasteboard (the clipboard), plain text only.
class Pasteboard {
public:
    virtual ~Pasteboard() = default;
    // The plain-text content, or none when the pasteboard holds no text.
    virtual std::optional<QString> string() const = 0;
    virtual void setString(const QString& text) = 0;
};

} // namespace pinlark
