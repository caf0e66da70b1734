#pragma once

#include "quicksave/PanelStyle.h"

#include <QLabel>
#include <QStringList>

namespace pinlark {

// Text wrapped at word boundaries to the label's width and cut to at most `maxLines` lines, the
// last ending in an ellipsis when the text goes on (0: no limit). text() stays whole: it is what
// accessibility reads.
class ClampedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ClampedLabel(int maxLines, QWidget* parent = nullptr);

    int maxLines() const { return m_maxLines; }
    void setMaxLines(int maxLines) {
        m_maxLines = maxLines;
        updateGeometry();
    }
    // The colour is taken from the palette each time the text is drawn.
    void setTint(PanelStyle::Tint tint);
    QColor color() const { return m_tint(palette()); }

    // The lines shown at `width`.
    QStringList lines(int width) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_maxLines;
    PanelStyle::Tint m_tint = PanelStyle::primary;
};

} // namespace pinlark
