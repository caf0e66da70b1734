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

QRect WindowFrame::initial(const std::optional<QString>& saved, const QList<QRect>& screens,
                           const QSize& size, const QSize& minimum) {
    if (const auto frame = saved ? decode(*saved) : std::nullopt) {
        const QRect grown(frame->topLeft(), frame->size().expandedTo(minimum));
        if (std::any_of(screens.begin(), screens.end(),
                        [&](const QRect& screen) { return screen.intersects(grown); }))
            return grown;
    }
    QRect centred(QPoint(), size);
    if (!screens.isEmpty())
        centred.moveCenter(screens.first().center());
    return centred;
}

} // namespace pinlark
