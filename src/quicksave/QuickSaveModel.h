#pragma once

#include "platform/Async.h"
#include "platform/Clock.h"
#include "quicksave/LinkFinder.h"
#include "quicksave/Phase.h"
#include "quicksave/SavesClient.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace pinlark {

class Outbox;

// The state and behaviour behind the quick-save panel: the link field, the phase of the
// current save, and the recent saves. The save of several links at once is in SaveMany.cpp. Every
// assignment to url, phase and recent is announced, also when the value does not change, so the
// panel redraws.
class QuickSaveModel : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds pollInterval{1500};
    static constexpr int pollTries = 24;
    static constexpr int recentLimit = 7;
    // The most the panel's field holds, in UTF-16 code units.
    static constexpr int maxFieldLength = 32767;

    explicit QuickSaveModel(std::shared_ptr<SavesClient> client = SavesClient::service(),
                            Outbox* outbox = nullptr, QObject* parent = nullptr);
    ~QuickSaveModel() override;

    QString url() const { return m_url; }
    void setUrl(const QString& url);
    // The links in the field. With two or more, Save saves each of them (saveLinks).
    const FoundLinks& found() const { return m_found; }
    bool holdsMany() const { return m_found.count > 1; }
    const Phase& phase() const { return m_phase; }
    const QList<SaveRow>& recent() const { return m_recent; }
    // A link in the outbox, and what it waits for.
    struct Waiting {
        QString url;
        QString why;
    };
    // The links in the outbox, newest first.
    QList<Waiting> waiting() const;
    // The links saved under another session while one is signed in, oldest first: the panel
    // asks whether they go to this account.
    QStringList foreign() const;
    void sendForeign();
    void discardForeign();

    // Closes the panel; set by its host.
    std::function<void()> dismiss = [] {};

    // Right before the panel is shown: pre-fill from the clipboard unless a save is in flight,
    // and refresh the recent saves. Where the clipboard can be read only by a window that holds
    // the keyboard (Wayland), `clipboardNow` is false and the pre-fill waits for focused().
    void opened(bool clipboardNow = true);
    // The panel holds the keyboard: a waiting pre-fill reads the clipboard now, unless the field
    // has been filled meanwhile.
    void focused();
    // After the panel has closed: stop the save task and forget a finished or queued save.
    void closed();
    // Saves the trimmed text of the field; when it holds several links, each of them.
    void save();
    // Saves `links` one after the other, in order, each through the outbox as a single save
    // goes, without touching the field; the phase follows them (phase::Many) and `finished`
    // gets the summary line once each has its answer. Nothing while a save is in flight:
    // false.
    bool saveLinks(QStringList links, std::function<void(const phase::Many&)> finished = {});
    // Closes the panel and opens the service's sign-in page in the library window.
    void signIn();
    // Signs out; with links waiting, first says how many and asks whether to keep them (for the
    // next sign-in, which is asked before they go) or discard them. The question left without
    // an answer (Escape, a quit) signs nothing out: false.
    QCoro::Task<bool> signOut();
    // Refreshes the recent saves and corrects the phase from the service's answer; one that
    // comes sends the outbox.
    QCoro::Task<> loadRecent();

Q_SIGNALS:
    void urlChanged();
    void phaseChanged();
    void recentChanged();

private:
    friend struct QuickSaveModelAccess;

    void setPhase(Phase phase);
    void setRecent(QList<SaveRow> rows);
    void prefillFromClipboard();
    // The outbox learnt another session, or none.
    void followSession();
    bool m_prefillWaiting = false;
    QCoro::Task<> loadRecent(CancelToken cancel);
    QCoro::Task<> runSave(QString link, CancelToken cancel);
    QCoro::Task<> runMany(QStringList links, QString field, CancelToken cancel,
                          std::function<void(const phase::Many&)> finished);
    // What a save that found no connection says.
    static QString offlineMessage();

    std::shared_ptr<SavesClient> m_client;
    QPointer<Outbox> m_outbox;
    // The session the panel last showed.
    std::optional<QString> m_session;
    QString m_url;
    FoundLinks m_found;
    Phase m_phase = phase::Idle{};
    QList<SaveRow> m_recent;
    // The one tracked task: the current save and its polling.
    struct Poll {
        CancelToken cancel;
        QCoro::Task<> task;
    };
    std::optional<Poll> m_poll;
    bool m_ending = false;
};

} // namespace pinlark
