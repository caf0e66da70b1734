#pragma once

#include "platform/Log.h"

#include <QStringList>

namespace pinlark {

// Collects the log lines written while it lives.
class LogCapture {
public:
    LogCapture() {
        setLogSink([this](const QString& line) { lines.append(line); });
    }
    ~LogCapture() { setLogSink({}); }
    QStringList lines;
};

} // namespace pinlark
