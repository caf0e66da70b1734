#pragma once

#include <QString>
#include <QStringList>

namespace pinlark {

// The http and https links in a text pasted or copied from a message, a document or a list of
// tabs: links separated by line breaks, spaces or other words.
struct FoundLinks {
    // The most one save takes.
    static constexpr int maxLinks = 100;
    // The most of a text that is read, in UTF-16 code units; the rest is not looked at.
    static constexpr qsizetype maxText = 1024 * 1024;

    // Each link once (compared as encoded URLs), in the order of first appearance, as written.
    // Only the first maxLinks + 1 are kept: enough to know there are too many.
    QStringList links;
    // How many different links there are, also past those kept.
    int count = 0;
    // Words that look like links but aren't saveable ones (another scheme, no host, too long).
    int leftOut = 0;
    // The text was longer than maxText: only its start was read.
    bool cut = false;

    bool tooMany() const { return count > maxLinks; }
    bool operator==(const FoundLinks&) const = default;
};

// What findLinks finds in `text`. Pure: the same text, the same answer.
FoundLinks findLinks(const QString& text);

// `text` is an http or https link with a host, of at most 8192 characters once encoded.
bool isSaveableLink(const QString& text);

} // namespace pinlark
