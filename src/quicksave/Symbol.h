#pragma once

#include "quicksave/PanelStyle.h"

#include <QPixmap>
#include <QWidget>

namespace pinlark {

// One of our monochrome icons, drawn in a colour of the palette at the screen's pixel density.
// The icons stand in for the system symbols of the same names ("checkmark.circle.fill" …).
class Symbol : public QWidget {
    Q_OBJECT
public:
    Symbol(int size, QWidget* parent = nullptr);

    QString name() const { return m_name; }
    void setName(const QString& name);
    // The colour is taken from the palette each time the icon is drawn.
    void setTint(PanelStyle::Tint tint);
    QColor color() const { return m_tint(palette()); }

    // The icon `name` filled with `color`, `size` device-independent pixels at `ratio`.
    static QPixmap pixmap(const QString& name, QSize size, const QColor& color, qreal ratio);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_name;
    PanelStyle::Tint m_tint = PanelStyle::primary;
};

} // namespace pinlark
