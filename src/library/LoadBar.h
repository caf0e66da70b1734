#pragma once

#include <QWidget>

namespace pinlark {

// The thin progress line over the top edge of the library window: filled from the left with
// the accent colour in proportion to `value`, and fully transparent unless 0 < value < 1.
class LoadBar : public QWidget {
    Q_OBJECT
public:
    explicit LoadBar(QWidget* parent = nullptr);

    double value() const { return m_value; }
    // Sets the fraction and schedules a redraw.
    void setValue(double value);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double m_value = 0;
};

} // namespace pinlark
