#include "quicksave/PanelStyle.h"

#include "quicksave/ClampedLabel.h"
#include "quicksave/Symbol.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QVBoxLayout>

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

QHBoxLayout* PanelStyle::symbolRow(QWidget* owner, Symbol* symbol, QWidget* text,
                                   const QFont& firstLine) {
    auto* row = new QHBoxLayout(owner);
    row->setContentsMargins(inset, 0, inset, 10);
    row->setSpacing(6);
    const QFontMetrics m(firstLine);
    const int offset = m.ascent() - m.capHeight() / 2 - symbolSize / 2;
    auto* column = new QVBoxLayout;
    column->setContentsMargins(0, std::max(0, offset), 0, 0);
    column->addWidget(symbol);
    column->addStretch();
    row->addLayout(column);
    auto* textColumn = new QVBoxLayout;
    textColumn->setContentsMargins(0, std::max(0, -offset), 0, 0);
    textColumn->addWidget(text);
    row->addLayout(textColumn, 1);
    return row;
}

QWidget* PanelStyle::note(QWidget* parent, const QString& name, ClampedLabel** text,
                          Symbol** symbol) {
    auto* box = new QWidget(parent);
    box->setObjectName(name);
    *symbol = new Symbol(symbolSize, box);
    (*symbol)->setObjectName(name + QStringLiteral("Symbol"));
    *text = new ClampedLabel(3, box);
    (*text)->setObjectName(name + QStringLiteral("Text"));
    (*text)->setFont(font(11));
    (*text)->setTint(secondary);
    symbolRow(box, *symbol, *text, (*text)->font());
    return box;
}

} // namespace pinlark
