#include "menubar/TrayIcon.h"

#include <QIconEngine>
#include <QPainter>
#include <QPixmap>

#include <cmath>

namespace pinlark::TrayIcon {

namespace {

// `image` in `color`, keeping its alpha.
QImage tinted(const QImage& image, const QColor& color) {
    QImage result(image.size(), QImage::Format_ARGB32_Premultiplied);
    result.fill(color);
    QPainter painter(&result);
    painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    painter.drawImage(QPoint(0, 0), image);
    return result;
}

// The smallest rectangle holding every pixel of `image` that is not fully transparent; the whole
// image when none is.
QRect inkBounds(const QImage& image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    QRect bounds;
    for (int y = 0; y < argb.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x)
            if (qAlpha(row[x]) != 0)
                bounds |= QRect(x, y, 1, 1);
    }
    return bounds.isEmpty() ? image.rect() : bounds;
}

class Engine : public QIconEngine {
public:
    Engine(QImage glyph, bool badge, Scheme scheme, QString name)
        : m_glyph(std::move(glyph))
        , m_badge(badge)
        , m_scheme(scheme)
        , m_name(std::move(name)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
        const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        painter->drawImage(rect, draw(m_glyph, rect.size(), dpr, m_badge, m_scheme));
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }
    // The pictures a tray host picks from and scales to its icon size, as StatusNotifierItem
    // hosts do with the ones Qt sends them: which one it picks is its own choice.
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode, QIcon::State, qreal scale) override {
        return QPixmap::fromImage(draw(m_glyph, size, scale, m_badge, m_scheme, true));
    }
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        return {{16, 16}, {22, 22}, {24, 24}, {32, 32}, {48, 48}};
    }
    QString iconName() override { return m_name; }
    bool isNull() override { return m_glyph.isNull(); }
    QString key() const override { return QStringLiteral("pinlark-tray"); }
    QIconEngine* clone() const override { return new Engine(*this); }

private:
    QImage m_glyph;
    bool m_badge;
    Scheme m_scheme;
    QString m_name;
};

} // namespace

Colors colors(Scheme scheme) {
    if (scheme == Scheme::Light)
        return {QColor(0x26, 0x26, 0x26), QColor(255, 255, 255, 220)};
    return {QColor(0xf2, 0xf2, 0xf2), QColor(0, 0, 0, 230)};
}

QImage draw(const QImage& glyph, const QSize& size, qreal dpr, bool badge, Scheme scheme,
            bool forScaling) {
    constexpr int symbolicSize = 16;
    const QSize pixels = (QSizeF(size) * dpr).toSize();
    QImage result(pixels, QImage::Format_ARGB32_Premultiplied);
    result.fill(Qt::transparent);
    if (glyph.isNull() || pixels.isEmpty())
        return result;
    const Colors c = colors(scheme);
    const int side = std::min(pixels.width(), pixels.height());
    // One device pixel of outline per device-independent pixel, inside the square; in a picture
    // to be scaled, as many as leave one once it is scaled to 16 pixels.
    const int line = std::max(1, int(std::lround(forScaling ? side / qreal(symbolicSize) : dpr)));
    // The glyph's own pixels, without the margin its image carries, and their outline fill the
    // square up to the 16 pixels of the symbolic icons beside it, which a host with larger slots
    // draws at that size too; in a picture to scale, the square but for a sixteenth each side,
    // as a symbolic icon's drawing leaves. Its height, or its width where the drawing is wider
    // than tall, keeping its proportions.
    const QImage ink = glyph.copy(inkBounds(glyph));
    const int slot =
        forScaling ? side * 7 / 8 : std::min(side, int(std::lround(symbolicSize * dpr)));
    const int box = std::max(1, slot - 2 * line);
    const bool wide = ink.width() > ink.height();
    const int along = std::max(1, int(std::lround(wide ? qreal(ink.height()) / ink.width() * box
                                                       : qreal(ink.width()) / ink.height() * box)));
    const int width = wide ? box : along, height = wide ? along : box;
    const QImage shape = ink.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                             .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QPoint at((pixels.width() - width) / 2, (pixels.height() - height) / 2);

    QPainter painter(&result);
    painter.setRenderHint(QPainter::Antialiasing);
    const QImage outline = tinted(shape, c.outline);
    for (int dx = -line; dx <= line; dx += line)
        for (int dy = -line; dy <= line; dy += line)
            painter.drawImage(at + QPoint(dx, dy), outline);
    painter.drawImage(at, tinted(shape, c.fill));

    if (badge) {
        // A clear ring keeps the dot apart from the glyph under it.
        const qreal r = side * 0.2;
        const QPointF centre(pixels.width() - r - line, r + line);
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::black);
        painter.drawEllipse(centre, r + 2 * line, r + 2 * line);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setPen(QPen(c.outline, line));
        painter.setBrush(c.fill);
        painter.drawEllipse(centre, r, r);
    }
    painter.end();
    result.setDevicePixelRatio(dpr);
    return result;
}

QIcon make(const QImage& glyph, bool badge, Scheme scheme) {
    if (glyph.isNull())
        return {};
    const QString name = !badge && QIcon::hasThemeIcon(themeName()) ? themeName() : QString();
    return QIcon(new Engine(glyph, badge, scheme, name));
}

} // namespace pinlark::TrayIcon
