#include "service/SaveRow.h"

#include "platform/Workspace.h"
#include "service/JsonReader.h"

#include <QUrl>

namespace pinlark {

namespace {

const QLatin1String screenshotPrefix("screenshot:");

// A link parses when it is a valid URL without the tolerant repairs (no stray spaces and the
// like), as a strict URL parser reads it.
QUrl parsed(const QString& link) {
    return QUrl(link, QUrl::StrictMode);
}

} // namespace

QString SaveRow::display() const {
    if (title) {
        const QString trimmed = title->trimmed();
        if (!trimmed.isEmpty())
            return trimmed;
    }
    if (url) {
        if (url->startsWith(screenshotPrefix))
            return QStringLiteral("Screenshot");
        const QUrl link = parsed(*url);
        if (link.isValid() && !link.host().isEmpty())
            return link.host().remove(QLatin1String("www."));
        return *url;
    }
    return id;
}

bool SaveRow::isOpenable() const {
    if (!url || url->startsWith(screenshotPrefix))
        return false;
    return Workspace::leavesApp(parsed(*url));
}

SaveRow SaveRow::fromJson(const QJsonObject& object) {
    const JsonReader row(object);
    return {
        row.string(QLatin1String("id")),
        row.optionalString(QLatin1String("url")),
        row.optionalString(QLatin1String("platform")),
        row.optionalString(QLatin1String("status")),
        row.optionalString(QLatin1String("title")),
        row.optionalString(QLatin1String("synopsis")),
        row.optionalStringList(QLatin1String("tags")),
        row.optionalString(QLatin1String("error")),
    };
}

SaveRow SaveRow::decode(const QByteArray& json) {
    return fromJson(JsonReader::parse(json).object());
}

} // namespace pinlark
