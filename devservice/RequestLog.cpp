#include "RequestLog.h"

#include <QJsonDocument>

namespace pinlark::devservice {

namespace {
// Enough for any test or development session.
constexpr qsizetype maxRecordedRequests = 10000;
constexpr qsizetype maxRecordedBytes = 4 * 1024 * 1024;
} // namespace

void RequestLog::record(QJsonObject request) {
    const qsizetype size = QJsonDocument(request).toJson(QJsonDocument::Compact).size();
    std::lock_guard lock(m_mutex);
    m_requests.append({std::move(request), size});
    m_bytes += size;
    while (m_requests.size() > maxRecordedRequests || m_bytes > maxRecordedBytes) {
        m_bytes -= m_requests.first().second;
        m_requests.removeFirst();
    }
}

QJsonArray RequestLog::all() const {
    std::lock_guard lock(m_mutex);
    QJsonArray all;
    for (const auto& [r, size] : m_requests)
        all.append(r);
    return all;
}

void RequestLog::clear() {
    std::lock_guard lock(m_mutex);
    m_requests.clear();
    m_bytes = 0;
}

} // namespace pinlark::devservice
