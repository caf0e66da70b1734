#pragma once

#include "LinkFacts.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <mutex>
#include <optional>
#include <utility>

namespace pinlark::devservice {

// Everything the service knows, in memory: accounts, sessions, saves and the log of requests.
// Handlers run on the server's worker threads; every member takes the one lock.
class Store {
public:
    explicit Store(int settleAfter);

    // Creates the account of `email` when it is new and opens a session: gives its token.
    QString signIn(const QString& email);
    // The account (its email) that holds the session `token`.
    std::optional<QString> accountOf(const QString& token) const;

    struct Saved {
        QString id;
        bool existing = false;
    };
    Saved save(const QString& account, const QString& link);

    // One save of `account` as JSON; counts as a read, which moves it towards settling.
    // None for an unknown id or another account's save.
    std::optional<QJsonObject> read(const QString& account, const QString& id);
    // The newest `limit` saves of `account`, newest first. Does not count as reads.
    QJsonArray recent(const QString& account, int limit) const;

    void record(QJsonObject request);
    QJsonArray requests() const;
    void clearRequests();

private:
    struct Save {
        QString id;
        QString account;
        QString link;
        LinkFacts facts;
        int reads = 0;
    };
    QJsonObject rowOf(const Save& save) const;

    const int m_settleAfter;
    mutable std::mutex m_mutex;
    QHash<QString, QString> m_accounts; // lower-cased email -> email as first given
    QHash<QString, QString> m_sessions; // token -> account
    QList<Save> m_saves;                // oldest first
    // Oldest first, each with the size of its JSON, bounded in number and in bytes.
    QList<std::pair<QJsonObject, qsizetype>> m_requests;
    qsizetype m_requestBytes = 0;
};

// A fresh random text of `bytes` random bytes in base64url without padding.
QString randomToken(int bytes);

} // namespace pinlark::devservice
