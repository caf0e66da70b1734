#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

class QHBoxLayout;
class QWidget;

namespace pinlark {

class ClampedLabel;
class Symbol;

// The colours and fonts of the quick-save panel. Colours derive from the palette, so the panel
// reads well in a light and in a dark theme.
class PanelStyle {
public:
    using Tint = QColor (*)(const QPalette&);

    static bool isDark(const QPalette& palette);
    // The text colour, and the same at lower emphasis for secondary and tertiary text.
    static QColor primary(const QPalette& palette);
    static QColor secondary(const QPalette& palette);
    static QColor tertiary(const QPalette& palette);
    static QColor separator(const QPalette& palette);
    // Behind a row under the pointer.
    static QColor hover(const QPalette& palette);
    static QColor accent(const QPalette& palette);
    static QColor orange(const QPalette& palette);
    static QColor green(const QPalette& palette);

    // The system font at `size` typographic points of the panel's layout, where one point is
    // one device-independent pixel as in the layout's other sizes (340 wide, insets of 12).
    static QFont font(int size, QFont::Weight weight = QFont::Normal);

    // The margin at the panel's sides, and the size of the symbols beside its texts.
    static constexpr int inset = 12;
    static constexpr int symbolSize = 14;
    // A row of `owner`: a symbol beside text, the symbol centred on the text's first line.
    static QHBoxLayout* symbolRow(QWidget* owner, Symbol* symbol, QWidget* text,
                                  const QFont& firstLine);
    // A one-message status line named `name`: a symbol and up to three lines of secondary text.
    static QWidget* note(QWidget* parent, const QString& name, ClampedLabel** text,
                         Symbol** symbol);
};

} // namespace pinlark
