#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>

namespace pinlark::devservice {

// A query the database refused while serving.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Everything the service knows: accounts, sessions and saves in an SQLite database (a file in a
// data folder, or in memory).
//
// One thread owns the one database connection: the server's worker threads hand it their
// queries and wait for the answer, so the database sees one query at a time. Between queries it
// files the saves that are due, whether or not anyone asks for them.
class Store {
public:
    struct Settling {
        // Reads of a save after which it settles, however young it is.
        int reads = 2;
        // Time from saving to settling; none: a second or two, a different time for each save.
        std::optional<int> afterMs;
    };

    explicit Store(Settling settling);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Opens the database "pinlark-devservice.sqlite" in `dataFolder` (made when missing), or one
    // in memory when `dataFolder` is empty. Gives the reason in one line when it can't; a file
    // that is not this service's database is left as it is.
    std::optional<QString> open(const QString& dataFolder);

    // Creates the account of `email` when it is new and opens a session: gives its token.
    QString signIn(const QString& email);
    // The account (its email) that holds the session `token`.
    std::optional<QString> accountOf(const QString& token);

    struct Saved {
        QString id;
        bool existing = false;
    };
    Saved save(const QString& account, const QString& link);

    // One save of `account` as JSON; counts as a read, which moves it towards settling.
    // None for an unknown id or another account's save.
    std::optional<QJsonObject> read(const QString& account, const QString& id);
    // The newest `limit` saves of `account`, newest first. Does not count as reads.
    QJsonArray recent(const QString& account, int limit);

private:
    // Runs `work` on the database's thread and gives its result (or throws its StoreError).
    template <typename Work> auto call(Work work);
    void serve();
    std::optional<QString> openOnThread(const QString& dataFolder);
    // Files the saves whose time has come; gives when the next one is due, in ms since the epoch.
    std::optional<qint64> fileDue();

    const Settling m_settling;
    const QString m_connection;

    std::mutex m_jobsMutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_stopping = false;
    // The database thread's own.
    bool m_open = false;
    bool m_newSaves = false; // since the next due time was last taken

    std::thread m_thread; // last: it starts once everything it uses is there
};

// A fresh random text of `bytes` random bytes in base64url without padding.
QString randomToken(int bytes);

} // namespace pinlark::devservice
