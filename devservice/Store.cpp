#include "Store.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QRandomGenerator>

namespace pinlark::devservice {

namespace {
// Enough for any test or development session; the oldest entries go first.
constexpr qsizetype maxRecordedRequests = 10000;
constexpr qsizetype maxRecordedBytes = 4 * 1024 * 1024;
} // namespace

QString randomToken(int bytes) {
    QByteArray buffer(bytes, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(buffer.data()),
                                          bytes / int(sizeof(quint32)));
    return QString::fromLatin1(
        buffer.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

Store::Store(int settleAfter)
    : m_settleAfter(settleAfter) {}

QString Store::signIn(const QString& email) {
    const QString token = randomToken(32);
    std::lock_guard lock(m_mutex);
    const QString key = email.toLower();
    if (!m_accounts.contains(key))
        m_accounts.insert(key, email);
    m_sessions.insert(token, key);
    return token;
}

std::optional<QString> Store::accountOf(const QString& token) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_sessions.constFind(token);
    if (it == m_sessions.cend())
        return std::nullopt;
    return m_accounts.value(*it);
}

Store::Saved Store::save(const QString& account, const QString& link) {
    const QString id = randomToken(12);
    LinkFacts facts = LinkFacts::of(link);
    std::lock_guard lock(m_mutex);
    for (const Save& s : std::as_const(m_saves)) {
        if (s.account == account && s.link == link)
            return {s.id, true};
    }
    m_saves.append(Save{id, account, link, std::move(facts)});
    return {id, false};
}

QJsonObject Store::rowOf(const Save& save) const {
    QJsonObject row{{QStringLiteral("id"), save.id}, {QStringLiteral("url"), save.link}};
    if (save.reads <= m_settleAfter) {
        row.insert(QStringLiteral("status"),
                   save.reads <= 1 ? QStringLiteral("queued") : QStringLiteral("processing"));
        return row;
    }
    if (save.facts.error) {
        row.insert(QStringLiteral("status"), QStringLiteral("error"));
        row.insert(QStringLiteral("error"), *save.facts.error);
        return row;
    }
    row.insert(QStringLiteral("status"), QStringLiteral("done"));
    row.insert(QStringLiteral("title"), save.facts.title);
    row.insert(QStringLiteral("synopsis"), save.facts.synopsis);
    row.insert(QStringLiteral("platform"), save.facts.platform);
    row.insert(QStringLiteral("tags"), QJsonArray::fromStringList(save.facts.tags));
    return row;
}

std::optional<QJsonObject> Store::read(const QString& account, const QString& id) {
    std::lock_guard lock(m_mutex);
    for (Save& s : m_saves) {
        if (s.id == id && s.account == account) {
            if (s.reads <= m_settleAfter)
                ++s.reads;
            return rowOf(s);
        }
    }
    return std::nullopt;
}

QJsonArray Store::recent(const QString& account, int limit) const {
    std::lock_guard lock(m_mutex);
    QJsonArray rows;
    for (auto it = m_saves.crbegin(); it != m_saves.crend() && rows.size() < limit; ++it) {
        if (it->account == account)
            rows.append(rowOf(*it));
    }
    return rows;
}

void Store::record(QJsonObject request) {
    const qsizetype size = QJsonDocument(request).toJson(QJsonDocument::Compact).size();
    std::lock_guard lock(m_mutex);
    m_requests.append({std::move(request), size});
    m_requestBytes += size;
    while (m_requests.size() > maxRecordedRequests || m_requestBytes > maxRecordedBytes) {
        m_requestBytes -= m_requests.first().second;
        m_requests.removeFirst();
    }
}

QJsonArray Store::requests() const {
    std::lock_guard lock(m_mutex);
    QJsonArray all;
    for (const auto& [r, size] : m_requests)
        all.append(r);
    return all;
}

void Store::clearRequests() {
    std::lock_guard lock(m_mutex);
    m_requests.clear();
    m_requestBytes = 0;
}

} // namespace pinlark::devservice
