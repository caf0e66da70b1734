#include "quicksave/LinkFinder.h"

#include <QSet>
#include <QUrl>

namespace pinlark {

namespace {

constexpr qsizetype maxLinkLength = 8192;

// Characters that end a link in running text besides white space: quotes and angle brackets,
// which a link holds only encoded.
bool endsWord(QChar c) {
    return c.isSpace() || c == QLatin1Char('<') || c == QLatin1Char('>') ||
           c == QLatin1Char('"') || c == QLatin1Char('`') || c == QChar(0x201C) ||
           c == QChar(0x201D) || c == QChar(0x2018) || c == QChar(0x2019) || c == QChar(0x00AB) ||
           c == QChar(0x00BB) || c.category() == QChar::Other_Control;
}

// Where an http or https link starts in `word`, or -1.
qsizetype linkStart(const QString& word) {
    for (qsizetype at = word.indexOf(QLatin1String("http"), 0, Qt::CaseInsensitive); at >= 0;
         at = word.indexOf(QLatin1String("http"), at + 1, Qt::CaseInsensitive)) {
        const QStringView rest = QStringView(word).mid(at);
        if (rest.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
            rest.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
            return at;
    }
    return -1;
}

// A link at the end of a sentence or inside brackets leaves out the punctuation after it: a
// closing bracket only when the link opens none.
QString withoutTrailingPunctuation(QString link) {
    static const QString trailing = QStringLiteral(".,;:!?'*");
    while (!link.isEmpty()) {
        const QChar last = link.back();
        if (trailing.contains(last)) {
            link.chop(1);
            continue;
        }
        const auto closing = [&](QChar open) {
            return link.count(open) < link.count(last);
        };
        if ((last == QLatin1Char(')') && closing(QLatin1Char('('))) ||
            (last == QLatin1Char(']') && closing(QLatin1Char('['))) ||
            (last == QLatin1Char('}') && closing(QLatin1Char('{')))) {
            link.chop(1);
            continue;
        }
        break;
    }
    return link;
}

} // namespace

bool isSaveableLink(const QString& text) {
    if (text.size() > maxLinkLength)
        return false;
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty() && url.toEncoded().size() <= maxLinkLength;
}

FoundLinks findLinks(const QString& input) {
    FoundLinks found;
    found.cut = input.size() > FoundLinks::maxText;
    const QStringView text = QStringView(input).left(FoundLinks::maxText);
    QSet<QByteArray> seen;
    qsizetype at = 0;
    while (at < text.size()) {
        while (at < text.size() && endsWord(text[at]))
            ++at;
        qsizetype end = at;
        while (end < text.size() && !endsWord(text[end]))
            ++end;
        if (end == at)
            break;
        const QString word = text.mid(at, end - at).toString();
        at = end;
        const qsizetype start = linkStart(word);
        if (start < 0) {
            // Another scheme's link ("ftp://…", "file:///…"): said, not saved.
            if (word.contains(QLatin1String("://")))
                ++found.leftOut;
            continue;
        }
        const QString link = withoutTrailingPunctuation(word.mid(start));
        if (!isSaveableLink(link)) {
            ++found.leftOut;
            continue;
        }
        const QByteArray key = QUrl(link, QUrl::StrictMode).adjusted(QUrl::NormalizePathSegments)
                                   .toEncoded();
        if (seen.contains(key))
            continue;
        seen.insert(key);
        ++found.count;
        if (found.links.size() <= FoundLinks::maxLinks)
            found.links.append(link);
    }
    return found;
}

} // namespace pinlark
