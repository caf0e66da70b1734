#include "library/WindowFrame.h"

#include <QStringList>

#include <algorithm>

namespace pinlark {

QString WindowFrame::encode(const QRect& frame) {
    return QStringLiteral("%1 %2 %3 %4")
        .arg(frame.x())
        .arg(frame.y())
        .arg(frame.width())
        .arg(frame.height());
}

std::optional<QRect> WindowFrame::decode(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(' '));
    if (parts.size() != 4)
        return std::nullopt;
    // Checked in 64 bits: a hand-edited frame must not overflow QRect's int arithmetic, also once
    // grown to the minimum size or moved.
    qint64 v[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        v[i] = parts[i].toLongLong(&ok);
        if (!ok || v[i] < -maxCoordinate || v[i] > maxCoordinate)
            return std::nullopt;
    }
    if (v[2] <= 0 || v[3] <= 0)
        return std::nullopt;
    return QRect(int(v[0]), int(v[1]), int(v[2]), int(v[3]));
}

QRect WindowFrame::fit(const QRect& client, const QMargins& frame, const QRect& area,
                       const QSize& minimum) {
    const QSize size = client.size().boundedTo(area.size().shrunkBy(frame)).expandedTo(minimum);
    const QSize outer = size.grownBy(frame);
    // Too big for the area even so: its top-left corner stays in view, where the title bar is.
    const auto into = [](int at, int length, int start, int areaLength) {
        return std::max(start, std::min(at, start + areaLength - length));
    };
    const int x = into(client.x() - frame.left(), outer.width(), area.x(), area.width());
    const int y = into(client.y() - frame.top(), outer.height(), area.y(), area.height());
    return QRect(QPoint(x + frame.left(), y + frame.top()), size);
}

QRect WindowFrame::initial(const std::optional<QString>& saved, const QList<QRect>& screens,
                           const QSize& size, const QSize& minimum, const QMargins& frame) {
    if (screens.isEmpty())
        return QRect(QPoint(), size);
    if (const auto savedFrame = saved ? decode(*saved) : std::nullopt) {
        const QRect grown(savedFrame->topLeft(), savedFrame->size().expandedTo(minimum));
        const auto overlap = [&](const QRect& screen) {
            const QRect common = screen.intersected(grown);
            return qint64(common.width()) * common.height();
        };
        const auto most =
            std::max_element(screens.begin(), screens.end(), [&](const QRect& a, const QRect& b) {
                return overlap(a) < overlap(b);
            });
        if (overlap(*most) > 0)
            return fit(grown, frame, *most, minimum);
    }
    const QRect area = screens.first();
    const QSize fitted = size.boundedTo(area.size().shrunkBy(frame)).expandedTo(minimum);
    const QSize outer = fitted.grownBy(frame);
    const QPoint centred(area.x() + (area.width() - outer.width()) / 2 + frame.left(),
                         area.y() + (area.height() - outer.height()) / 2 + frame.top());
    return fit(QRect(centred, fitted), frame, area, minimum);
}

} // namespace pinlark
