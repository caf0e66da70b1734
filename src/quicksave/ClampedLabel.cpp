#include "quicksave/ClampedLabel.h"

#include <QPainter>
#include <QTextLayout>

namespace pinlark {

ClampedLabel::ClampedLabel(int maxLines, QWidget* parent)
    : QLabel(parent)
    , m_maxLines(maxLines) {
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void ClampedLabel::setTint(PanelStyle::Tint tint) {
    m_tint = tint;
    update();
}

QStringList ClampedLabel::lines(int width) const {
    QString content = text();
    content.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(content, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList shown;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (m_maxLines > 0 && shown.size() == m_maxLines - 1) {
            // The last line allowed takes the rest of the text, elided at its end.
            QString rest = content.mid(line.textStart());
            rest.replace(QChar::LineSeparator, QLatin1Char(' '));
            shown.append(fontMetrics().elidedText(rest.trimmed(), Qt::ElideRight, width));
            break;
        }
        QString piece = content.mid(line.textStart(), line.textLength());
        piece.remove(QChar::LineSeparator);
        shown.append(piece);
    }
    layout.endLayout();
    return shown;
}

int ClampedLabel::heightForWidth(int width) const {
    return int(lines(width).size()) * fontMetrics().lineSpacing();
}

QSize ClampedLabel::sizeHint() const {
    const int width = fontMetrics().horizontalAdvance(text());
    return {width, heightForWidth(width)};
}

QSize ClampedLabel::minimumSizeHint() const {
    return {0, text().isEmpty() ? 0 : fontMetrics().lineSpacing()};
}

void ClampedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(color());
    painter.setFont(font());
    const QFontMetrics metrics = fontMetrics();
    int baseline = metrics.ascent();
    for (const QString& line : lines(width())) {
        painter.drawText(0, baseline, line);
        baseline += metrics.lineSpacing();
    }
}

} // namespace pinlark
