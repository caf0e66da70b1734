#pragma once

#include <QList>
#include <QMargins>
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

    // `client`, the window's content rectangle, made to fit into `area` with the window manager's
    // `frame` around it: shrunk as far as `minimum` allows, then moved in. What still does not
    // fit hangs over the right and bottom edges.
    static QRect fit(const QRect& client, const QMargins& frame, const QRect& area,
                     const QSize& minimum);

    // Where the window opens, among `screens` (their available areas, the first the primary):
    // the saved frame, grown to `minimum` if smaller, on the screen it overlaps most; when it
    // overlaps none, `size` centred on the first screen. Either way it is fitted into that
    // screen, `frame` included.
    static QRect initial(const std::optional<QString>& saved, const QList<QRect>& screens,
                         const QSize& size, const QSize& minimum, const QMargins& frame = {});
};

} // namespace pinlark
