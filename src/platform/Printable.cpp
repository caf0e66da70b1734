#include "platform/Printable.h"

namespace pinlark {

QString printable(const QString& text) {
    QString kept;
    kept.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\t' || u == u'\n' || u == u'\r')
            kept.append(QLatin1Char(' '));
        else if (!(u < 0x20 || (u >= 0x7f && u < 0xa0) || (u >= 0x202a && u <= 0x202e) ||
                   (u >= 0x2066 && u <= 0x2069)))
            kept.append(c);
    }
    return kept;
}

} // namespace pinlark
