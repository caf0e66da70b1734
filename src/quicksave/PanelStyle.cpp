#include "quicksave/PanelStyle.h"

#include <QFontDatabase>

namespace pinlark {

namespace {

QColor withAlpha(QColor color, qreal alpha) {
    color.setAlphaF(color.alphaF() * alpha);
    return color;
}

} // namespace

bool PanelStyle::isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128;
}

QColor PanelStyle::primary(const QPalette& palette) {
    return palette.color(QPalette::WindowText);
}

QColor PanelStyle::secondary(const QPalette& palette) {
    return withAlpha(primary(palette), isDark(palette) ? 0.55 : 0.5);
}

QColor PanelStyle::tertiary(const QPalette& palette) {
    return withAlpha(primary(palette), isDark(palette) ? 0.25 : 0.26);
}

QColor PanelStyle::separator(const QPalette& palette) {
    return withAlpha(primary(palette), 0.1);
}

QColor PanelStyle::hover(const QPalette& palette) {
    return withAlpha(primary(palette), 0.06);
}

QColor PanelStyle::accent(const QPalette& palette) {
    return palette.color(QPalette::Active, QPalette::Highlight);
}

// The system orange and green of the desktop platforms' human-interface palettes, in their
// light and dark variants.
QColor PanelStyle::orange(const QPalette& palette) {
    return isDark(palette) ? QColor(255, 159, 10) : QColor(255, 149, 0);
}

QColor PanelStyle::green(const QPalette& palette) {
    return isDark(palette) ? QColor(50, 215, 75) : QColor(40, 205, 65);
}

QFont PanelStyle::font(int size, QFont::Weight weight) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(size);
    font.setWeight(weight);
    return font;
}

} // namespace pinlark
