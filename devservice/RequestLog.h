#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>

#include <mutex>
#include <utility>

namespace pinlark::devservice {

// The requests the service was sent, for tests to read back, in memory and bounded: the oldest
// go first. Safe to use from the server's threads at once.
class RequestLog {
public:
    void record(QJsonObject request);
    QJsonArray all() const;
    void clear();

private:
    mutable std::mutex m_mutex;
    QList<std::pair<QJsonObject, qsizetype>> m_requests;
    qsizetype m_bytes = 0;
};

} // namespace pinlark::devservice
