#include "library/LoadBar.h"

#include <QPainter>

namespace pinlark {

LoadBar::LoadBar(QWidget* parent)
    : QWidget(parent) {
    // The bar lies over the web view; clicks go through to the page.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
}

void LoadBar::setValue(double value) {
    m_value = value;
    update();
}

void LoadBar::paintEvent(QPaintEvent*) {
    if (!(m_value > 0 && m_value < 1))
        return;
    QPainter painter(this);
    painter.fillRect(QRectF(0, 0, width() * m_value, height()),
                     palette().color(QPalette::Active, QPalette::Highlight));
}

} // namespace pinlark
