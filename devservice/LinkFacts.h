#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace pinlark::devservice {

// What the service "finds" when it files a link: made up from the link itself, so that the
// same link always settles the same way.
struct LinkFacts {
    QString title;
    QString synopsis;
    QString platform;
    QStringList tags; // at most three
    // Set when filing fails: links whose host ends in ".invalid".
    std::optional<QString> error;

    static LinkFacts of(const QString& link);
};

// Whether `link` is something the service saves: an absolute http(s) URL with a host, or a
// "screenshot:" reference.
bool isSaveableLink(const QString& link);

} // namespace pinlark::devservice
