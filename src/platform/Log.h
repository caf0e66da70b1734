#pragma once

#include <QString>

#include <functional>

namespace pinlark {

// Writes one line to standard error and the system log. The line is plain text: nothing in it
// is read as a format. Callers put their own bracketed prefix first ("[updater] ").
void logLine(const QString& line);

// Replaces where log lines go (tests capture them); an empty function restores the default.
using LogSink = std::function<void(const QString&)>;
void setLogSink(LogSink sink);

} // namespace pinlark
