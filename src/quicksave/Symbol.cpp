#include "quicksave/Symbol.h"

#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

namespace pinlark {

Symbol::Symbol(int size, QWidget* parent)
    : QWidget(parent) {
    setFixedSize(size, size);
}

void Symbol::setName(const QString& name) {
    m_name = name;
    update();
}

void Symbol::setTint(PanelStyle::Tint tint) {
    m_tint = tint;
    update();
}

QPixmap Symbol::pixmap(const QString& name, QSize size, const QColor& color, qreal ratio) {
    QImage image(size * ratio, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(QStringLiteral(":/symbols/%1.svg").arg(name));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    // The drawing's coverage, filled with the colour.
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), color);
    painter.end();
    image.setDevicePixelRatio(ratio);
    return QPixmap::fromImage(image);
}

void Symbol::paintEvent(QPaintEvent*) {
    if (m_name.isEmpty())
        return;
    QPainter painter(this);
    painter.drawPixmap(0, 0, pixmap(m_name, size(), color(), devicePixelRatioF()));
}

} // namespace pinlark
