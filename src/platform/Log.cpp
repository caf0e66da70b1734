#include "platform/Log.h"

#include <cstdio>
#include <syslog.h>

namespace pinlark {

namespace {
LogSink& sink() {
    static LogSink s;
    return s;
}
} // namespace

void logLine(const QString& line) {
    if (sink()) {
        sink()(line);
        return;
    }
    const QByteArray bytes = line.toUtf8();
    std::fprintf(stderr, "%s\n", bytes.constData());
    std::fflush(stderr);
    syslog(LOG_NOTICE, "%s", bytes.constData());
}

void setLogSink(LogSink s) {
    sink() = std::move(s);
}

} // namespace pinlark
