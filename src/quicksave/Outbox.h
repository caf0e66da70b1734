#pragma once

#include "platform/Async.h"
#include "platform/Clock.h"
#include "quicksave/SavesClient.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace pinlark {

class APIError;

// The links saved while the service could not be reached, kept in a small file until the
// service has them. Each change is a read-modify-write of the whole file under flock(2) on
// "<file>.lock", written to a new file (mode 0600) that is renamed over the old one, so a writer
// killed half-way leaves the old list whole (and its new file goes at the next start). A file that
// can't be read or isn't a list this class writes is kept aside under a new name (".corrupt-<UTC
// time>") and the list starts empty; while it can't be kept aside, nothing is added and nothing
// overwrites it.
//
// send() posts the links oldest first, one at a time. A link leaves the list once the service
// has it (saved, or already in the library) or has refused it for good (a 4xx answer about the
// link; the user is told, naming it). Anything else stops the round: no answer, an answer that
// can't be read, a server in trouble, a rate limit, a sign-in the service wants. The next round
// follows after 30 seconds, then twice as long each time up to 30 minutes, or sooner when asked
// (the network comes back, a sign-in completes).
class Outbox : public QObject {
    Q_OBJECT
public:
    struct Entry {
        QString url;
        QDateTime queued; // UTC
        bool operator==(const Entry&) const = default;
    };

    static constexpr int maxLinks = 1000;
    static constexpr qint64 maxBytes = 4 * 1024 * 1024;
    static constexpr std::chrono::seconds firstRetry{30};
    static constexpr std::chrono::minutes longestRetry{30};

    // Reads the list at `path`.
    Outbox(QString path, std::shared_ptr<SavesClient> client, QObject* parent = nullptr);
    // A round in flight ends with its request aborted; the list stays in the file.
    ~Outbox() override;

    // $XDG_DATA_HOME/<bundle identifier>/outbox.json
    static QString standardPath();

    // The list as last read or written, oldest first.
    const QList<Entry>& entries() const { return m_entries; }
    int count() const { return int(m_entries.size()); }
    // When the oldest link was put in; none while the list is empty.
    std::optional<QDateTime> oldest() const;

    // Puts `url` at the end of the list, in the file before this returns; a link already waiting
    // is not added twice. False when the list is full (maxLinks, maxBytes) or could not be
    // written.
    bool add(const QString& url);

    // Starts a round now, unless one is under way or nothing waits.
    void send();
    // Sends at once, then again whenever the network comes back.
    void start();

Q_SIGNALS:
    void changed();
    // A round has ended that gave the service at least one link.
    void delivered();

private:
    enum class Answer { Saved, Refused, Later };

    // Applies `change` to the list in the file under its lock and writes the result; false when
    // `change` declines or the file could not be read, kept aside or written.
    bool update(const std::function<bool(QList<Entry>&)>& change);
    // The list in the file, with the lock held; a bad file is kept aside first. None when it is
    // bad and could not be kept aside.
    std::optional<QList<Entry>> readLocked();
    void setEntries(QList<Entry> entries);
    void scheduleRetry();
    QCoro::Task<> round();
    static Answer classify(const APIError& error);
    static QCoro::Task<> tellRefused(QString url, QString reason);
    void watchNetwork();

    QString m_path;
    std::shared_ptr<SavesClient> m_client;
    QList<Entry> m_entries;
    bool m_sending = false;
    Clock::Duration m_delay = firstRetry;
    std::unique_ptr<Clock::Timer> m_retry;
    CancelToken m_cancel;
};

} // namespace pinlark
