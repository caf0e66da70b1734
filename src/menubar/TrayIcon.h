#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QSize>
#include <QString>

namespace pinlark {

// The drawing of the app's icon for trays and panels. Panels come light and dark and most hosts
// show a pixmap as it is, so the glyph is drawn in one colour inside an outline of the opposite
// one: light on dark by default, which reads on black and on white alike, or dark on light where
// the desktop prefers light. The update dot is drawn the same way, apart from the glyph.
// Where the icon theme holds the app's symbolic icon, the icon also carries that name: hosts that
// load themed icons take it and recolour it for their panel.
namespace TrayIcon {

// The desktop's preference as far as it can be read.
enum class Scheme { Unknown, Dark, Light };

struct Colors {
    QColor fill;
    QColor outline;
};
Colors colors(Scheme scheme);

// The symbolic icon installed into the hicolor theme with the desktop entry.
inline QString themeName() {
    return QStringLiteral("app.pinlark.Pinlark-symbolic");
}

// `glyph` (its alpha is the shape) centred in a square of `size` device-independent pixels at
// `dpr` device pixels each, outlined, with the update dot in the top-right corner when `badge`.
// Drawn for the slot it is shown in, the glyph is no larger than the 16 pixels of the symbolic
// icons beside it; drawn for a host that scales the picture to its own icon size
// (`forScaling`), it fills the square but for a margin of a sixteenth each side, as a symbolic
// icon's drawing does, so that it shows at the host's icon size whichever picture it picks.
QImage draw(const QImage& glyph, const QSize& size, qreal dpr, bool badge, Scheme scheme,
            bool forScaling = false);

// An icon drawn at whatever size is asked; named after the theme's symbolic icon when the theme
// has it and there is no dot to show (a host that takes the name would not show the dot).
QIcon make(const QImage& glyph, bool badge, Scheme scheme);

} // namespace TrayIcon

} // namespace pinlark
