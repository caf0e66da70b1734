#include "library/LoadBar.h"

#include <QImage>
#include <QTest>

using namespace pinlark;

class TestLoadBar : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void drawing_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("filledColumns");
        QTest::newRow("0") << 0.0 << 0;
        QTest::newRow("1") << 1.0 << 0;
        QTest::newRow("above 1") << 1.2 << 0;
        QTest::newRow("not a number") << std::nan("") << 0;
        QTest::newRow("half") << 0.5 << 100;
        QTest::newRow("almost done") << 0.99 << 198;
    }
    void drawing() {
        QFETCH(double, value);
        QFETCH(int, filledColumns);
        LoadBar bar;
        bar.resize(200, 2);
        bar.setValue(value);
        QCOMPARE(bar.value(), value);

        QImage image(bar.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        bar.render(&image);

        const QColor accent = bar.palette().color(QPalette::Active, QPalette::Highlight);
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                if (x < filledColumns)
                    QCOMPARE(pixel, accent);
                else
                    QCOMPARE(pixel.alpha(), 0);
            }
        }
    }
};

QTEST_MAIN(TestLoadBar)
#include "tst_loadbar.moc"
