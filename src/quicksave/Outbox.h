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
#include <utility>

namespace pinlark {

class APIError;

// The links saved and not yet known to be in the library, kept in a small file until the service
// has them. A link is written down before its request leaves, so quitting, a signal or a crash
// while a save is in flight loses nothing: the next start sends what is waiting. The service
// answers a link it has already with success ("existing"), so a link whose answer was lost is
// posted again without a second copy in the library.
//
// Each change is a read-modify-write of the whole file under flock(2) on "<file>.lock", written
// to a new file (mode 0600) that is renamed over the old one, so a writer killed half-way leaves
// the old list whole (and its new file goes at the next start). A file that can't be read or
// isn't a list this class writes is kept aside under a new name (".corrupt-<UTC time>") and the
// list starts empty; while it can't be kept aside, nothing is added and nothing overwrites it.
//
// Each link carries the fingerprint of the session it was saved under (Session::fingerprint),
// and only that session sends it: each post is checked against the token that goes out, and
// every change of the session cookie is learnt at once. A link waits once per session, so the
// same link saved under two accounts goes to each. Links of another session wait for the
// user's word: adopt() gives them to the current session, discardForeign() drops them.
//
// send() (OutboxSending.cpp) posts the current session's links oldest first, one at a time,
// skipping a link the panel is sending itself. A link leaves the list once the service has it
// (saved, or already in the library) or has refused it (the service's own error body about the
// link; the user is told, naming it, and the last refusals stay in the file for the doctor).
// Anything else stops the round: no answer, an answer that isn't the service's, a server in
// trouble, a rate limit (whose Retry-After is honoured), a sign-in the service wants, another
// session signed in. The next round follows after 30 seconds, then twice as long each time up to 30
// minutes, or sooner when asked (the network comes back, a sign-in completes).
class Outbox : public QObject {
    Q_OBJECT
public:
    struct Entry {
        QString url;
        QDateTime queued; // UTC
        QString session;  // the fingerprint of the session it was saved under
        bool operator==(const Entry&) const = default;
    };
    struct Refusal {
        QString url;
        QString reason;
        QDateTime when; // UTC
        bool operator==(const Refusal&) const = default;
    };
    struct Contents {
        QList<Entry> entries;
        QList<Refusal> refused; // newest last
        bool operator==(const Contents&) const = default;
    };
    enum class Answer { Saved, Refused, Later };

    static constexpr int maxLinks = 1000;
    static constexpr qint64 maxBytes = 4 * 1024 * 1024;
    static constexpr int keptRefusals = 5;
    static constexpr std::chrono::seconds firstRetry{30};
    static constexpr std::chrono::minutes longestRetry{30};

    // Reads the list at `path`.
    Outbox(QString path, std::shared_ptr<SavesClient> client, QObject* parent = nullptr);
    // A round in flight ends with its request aborted; the list stays in the file.
    ~Outbox() override;

    // $XDG_DATA_HOME/<bundle identifier>/outbox.json
    static QString standardPath();
    // The file at `path` as it is, for a reader that changes nothing: no lock taken, nothing
    // kept aside or removed. Empty when there is no file; none, with `error` set, when it can't
    // be read or isn't one this class writes.
    static std::optional<Contents> peek(const QString& path, QString* error);

    // The list as last read or written, oldest first.
    const QList<Entry>& entries() const { return m_contents.entries; }
    int count() const { return int(m_contents.entries.size()); }
    const QList<Refusal>& refused() const { return m_contents.refused; }
    // When the oldest link was put in; none while the list is empty.
    std::optional<QDateTime> oldest() const;

    // The fingerprint of the current session as last learnt; none while signed out.
    const std::optional<QString>& session() const { return m_session; }
    // Learns the current session; links it may send go at once.
    void setSession(std::optional<QString> session);
    // Learns the current session from the cookie store.
    QCoro::Task<> refreshSession();
    // The links the current session may send (none while signed out).
    int sendableCount() const;
    // The links saved under another session while one is signed in, oldest first.
    QList<Entry> foreign() const;
    // The user's word on the foreign links: they become the current session's and go.
    void adopt();
    void discardForeign();
    // Drops every link.
    void discardAll();

    // Puts `url` at the end of the list under the current session, in the file before this
    // returns; a link already waiting for this session is not added twice. False when signed out,
    // when the list is full (maxLinks, maxBytes) or could not be written.
    bool add(const QString& url);
    // add(), and the link is left out of rounds until finish(): its sender posts it.
    bool hold(const QString& url);
    // What became of a link held under `session`: gone when the service has it or refused it;
    // else it waits for the next round, which starts at once when `now`.
    void finish(const QString& url, const QString& session, Answer answer, bool now = false);

    // Starts a round now, unless one is under way or nothing waits.
    void send();
    // Sends at once, then again whenever the network comes back.
    void start();

    // What an error of a save says about its link.
    static Answer classify(const APIError& error);

Q_SIGNALS:
    void changed();
    // The session learnt is another one, or none.
    void sessionChanged();
    // A round has ended that gave the service at least one link.
    void delivered();

private:
    // add() without scheduling a round.
    bool insert(const QString& url);
    // Applies `change` to the list in the file under its lock and writes the result; false when
    // `change` declines or the file could not be read, kept aside or written.
    bool update(const std::function<bool(Contents&)>& change);
    // The list in the file, with the lock held; a bad file is kept aside first. None when it is
    // bad and could not be kept aside.
    std::optional<Contents> readLocked();
    void setContents(Contents contents);
    bool sendable(const Entry& entry) const;
    bool isHeld(const Entry& entry) const;
    // Removes the link of `url` saved under `session`.
    static void drop(Contents& contents, const QString& url, const QString& session);
    void scheduleRetry(std::optional<std::chrono::seconds> after = std::nullopt);
    QCoro::Task<> round();
    static QCoro::Task<> tellRefused(QString url, QString reason);
    void watchNetwork();
    // A line of the outbox's in the log.
    static void report(const QString& text);

    QString m_path;
    std::shared_ptr<SavesClient> m_client;
    Contents m_contents;
    std::optional<QString> m_session;
    // The links the panel is sending, as (url, session).
    QList<std::pair<QString, QString>> m_held;
    bool m_sending = false;
    Clock::Duration m_delay = firstRetry;
    std::unique_ptr<Clock::Timer> m_retry;
    CancelToken m_cancel;
};

} // namespace pinlark
