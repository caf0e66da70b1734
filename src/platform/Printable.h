#pragma once

#include <QString>

namespace pinlark {

// `text` as it may reach a terminal, a log line or a notification: without the C0 and C1
// control characters, DEL, and the bidirectional embeddings, overrides and isolates (U+202A to
// U+202E, U+2066 to U+2069), which would steer the terminal or reorder what surrounds the text.
// A tab or a line break becomes a space; the others go.
QString printable(const QString& text);

} // namespace pinlark
