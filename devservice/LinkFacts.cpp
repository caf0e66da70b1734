#include "LinkFacts.h"

#include <QRegularExpression>
#include <QUrl>

namespace pinlark::devservice {

namespace {

const QLatin1String screenshotPrefix("screenshot:");

QString platformOf(const QString& host) {
    static const struct {
        const char* domain;
        const char* platform;
    } known[] = {{"youtube.com", "youtube"}, {"youtu.be", "youtube"},
                 {"github.com", "github"},   {"x.com", "x"},
                 {"twitter.com", "x"},       {"reddit.com", "reddit"},
                 {"medium.com", "medium"},   {"wikipedia.org", "wikipedia"}};
    for (const auto& k : known) {
        const QLatin1String domain(k.domain);
        if (host == domain || host.endsWith(QLatin1Char('.') + domain))
            return QLatin1String(k.platform);
    }
    return QStringLiteral("web");
}

// "how-to_read.html" -> "How to read"
QString titleFromSegment(QString segment) {
    const int dot = segment.lastIndexOf(QLatin1Char('.'));
    if (dot > 0)
        segment.truncate(dot);
    segment.replace(QLatin1Char('-'), QLatin1Char(' ')).replace(QLatin1Char('_'), QLatin1Char(' '));
    segment = segment.simplified();
    if (!segment.isEmpty())
        segment[0] = segment[0].toUpper();
    return segment;
}

} // namespace

bool isSaveableLink(const QString& link) {
    if (link.startsWith(screenshotPrefix))
        return link.size() > screenshotPrefix.size();
    const QUrl url(link, QUrl::StrictMode);
    return url.isValid() &&
           (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https")) &&
           !url.host().isEmpty();
}

LinkFacts LinkFacts::of(const QString& link) {
    LinkFacts facts;
    if (link.startsWith(screenshotPrefix)) {
        facts.title = QStringLiteral("Screenshot");
        facts.synopsis = QStringLiteral("A screenshot saved from the desktop.");
        facts.platform = QStringLiteral("screenshot");
        facts.tags = {QStringLiteral("screenshot")};
        return facts;
    }
    const QUrl url(link);
    const QString host = url.host();
    QString site = host;
    if (site.startsWith(QLatin1String("www.")))
        site = site.mid(4);
    if (host.endsWith(QLatin1String(".invalid"))) {
        facts.error = QStringLiteral("Couldn't reach %1.").arg(host);
        return facts;
    }
    facts.platform = platformOf(site);
    const QStringList segments = url.path().split(QLatin1Char('/'), Qt::SkipEmptyParts);
    facts.title = segments.isEmpty() ? QString() : titleFromSegment(segments.last());
    if (facts.title.isEmpty())
        facts.title = site;
    facts.synopsis = QStringLiteral("Saved from %1.").arg(site);

    QStringList candidates{facts.platform, site.section(QLatin1Char('.'), 0, 0)};
    static const QRegularExpression word(QStringLiteral("^[a-z0-9-]{1,24}$"));
    if (!segments.isEmpty() && word.match(segments.first().toLower()).hasMatch())
        candidates.append(segments.first().toLower());
    for (const QString& tag : std::as_const(candidates)) {
        if (facts.tags.size() < 3 && !tag.isEmpty() && !facts.tags.contains(tag))
            facts.tags.append(tag);
    }
    return facts;
}

} // namespace pinlark::devservice
