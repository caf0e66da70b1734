#pragma once

#include <QList>
#include <QRect>
#include <QString>

#include <optional>

namespace pinlark {

// The library window's remembered frame (the content rectangle in global coordinates), kept in
// the user defaults as "x y width height".
class WindowFrame {
public:
    static QString encode(const QRect& frame);
    // Coordinates and sizes beyond this (Qt's largest window size) are not a frame.
    static constexpr qint64 maxCoordinate = (1 << 24) - 1;

    // None unless the text is four integers within ±maxCoordinate with a positive width and
    // height.
    static std::optional<QRect> decode(const QString& text);

    // Where the window opens: the saved frame, grown to `minimum` if smaller, when it overlaps
    // one of `screens` (their available areas); otherwise `size` centred on the first screen.
    static QRect initial(const std::optional<QString>& saved, const QList<QRect>& screens,
                         const QSize& size, const QSize& minimum);
};

} // namespace pinlark
