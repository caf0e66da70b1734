#include "quicksave/QuickSaveModel.h"

#include "library/LibraryWindow.h"
#include "platform/Platform.h"
#include "quicksave/Outbox.h"
#include "service/APIError.h"
#include "service/Config.h"
#include "session/Session.h"

#include <QPointer>
#include <QTextBoundaryFinder>
#include <QUrl>

#include <utility>

namespace pinlark {

namespace {

constexpr int maxPrefillCharacters = 2047;

// User-perceived characters (grapheme clusters), stopping once past `limit`.
int characterCount(const QString& text, int limit) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() >= 0 && count <= limit)
        ++count;
    return count;
}

bool isSettled(const SaveRow& row) {
    return row.status == QLatin1String("done") || row.status == QLatin1String("error");
}

} // namespace

QString QuickSaveModel::offlineMessage() {
    return QStringLiteral("Can't reach Pinlark. Check your connection.");
}

QuickSaveModel::QuickSaveModel(std::shared_ptr<SavesClient> client, Outbox* outbox, QObject* parent)
    : QObject(parent)
    , m_client(std::move(client))
    , m_outbox(outbox) {
    if (!outbox)
        return;
    connect(outbox, &Outbox::changed, this, &QuickSaveModel::recentChanged);
    // Links that reached the service appear as saves.
    connect(outbox, &Outbox::delivered, this, [this] { loadRecent(); });
    // Signed in or out, here or in the library window: the panel follows at once.
    m_session = outbox->session();
    connect(outbox, &Outbox::sessionChanged, this, &QuickSaveModel::followSession);
}

void QuickSaveModel::followSession() {
    const std::optional<QString> before = std::exchange(m_session, m_outbox->session());
    if (!m_session) {
        setRecent({});
        // A save in flight says itself how it ended.
        if (!std::holds_alternative<phase::Saving>(m_phase))
            setPhase(phase::SignedOut{});
    } else if (before || std::holds_alternative<phase::SignedOut>(m_phase)) {
        // Another account's saves, or the first since signing out; not the session learnt at
        // the start.
        loadRecent();
    }
}

// A save task still waiting ends now rather than wait for a model that is gone.
QuickSaveModel::~QuickSaveModel() {
    m_ending = true;
    if (m_poll)
        m_poll->cancel.cancel();
}

void QuickSaveModel::setUrl(const QString& url) {
    m_url = url;
    m_found = findLinks(url);
    Q_EMIT urlChanged();
}

void QuickSaveModel::setPhase(Phase phase) {
    m_phase = std::move(phase);
    Q_EMIT phaseChanged();
}

void QuickSaveModel::setRecent(QList<SaveRow> rows) {
    m_recent = std::move(rows);
    Q_EMIT recentChanged();
}

QStringList QuickSaveModel::foreign() const {
    QStringList links;
    if (m_outbox) {
        for (const Outbox::Entry& entry : m_outbox->foreign())
            links.append(entry.url);
    }
    return links;
}

void QuickSaveModel::sendForeign() {
    if (m_outbox)
        m_outbox->adopt();
}

void QuickSaveModel::discardForeign() {
    if (m_outbox)
        m_outbox->discardForeign();
}

QCoro::Task<bool> QuickSaveModel::signOut() {
    QPointer<QuickSaveModel> self(this);
    if (m_outbox && m_outbox->count()) {
        const int n = m_outbox->count();
        const int choice = Platform::alerts().run(
            {n == 1 ? QStringLiteral("1 link is waiting to be saved")
                    : QStringLiteral("%1 links are waiting to be saved").arg(n),
             QStringLiteral("Kept, they wait until you sign in again, and Pinlark asks before "
                            "it sends them."),
             {QStringLiteral("Keep"), QStringLiteral("Discard")},
             1});
        if (choice == Alerts::noAnswer)
            co_return false;
        if (self && m_outbox && choice == 1)
            m_outbox->discardAll();
    }
    co_await Session::signOut();
    if (self && m_outbox)
        m_outbox->setSession(std::nullopt);
    co_return true;
}

QList<QuickSaveModel::Waiting> QuickSaveModel::waiting() const {
    QList<Waiting> links;
    if (!m_outbox)
        return links;
    const std::optional<QString>& session = m_outbox->session();
    for (const Outbox::Entry& entry : m_outbox->entries())
        links.prepend({entry.url, !session ? QStringLiteral("Waiting for you to sign in")
                                  : entry.session == *session
                                      ? QStringLiteral("Waiting for the connection")
                                      : QStringLiteral("Saved under another account")});
    return links;
}

void QuickSaveModel::opened(bool clipboardNow) {
    m_prefillWaiting = !clipboardNow;
    if (clipboardNow && !std::holds_alternative<phase::Saving>(m_phase))
        prefillFromClipboard();
    // Not tracked: closing the panel does not stop the refresh.
    loadRecent();
}

void QuickSaveModel::prefillFromClipboard() {
    if (!m_url.isEmpty() || !std::holds_alternative<phase::Idle>(m_phase))
        return;
    const QString text = Platform::pasteboard().string().value_or(QString()).trimmed();
    // A character can be any number of code units (a letter with combining marks): the field
    // must hold all of them, or Save would send what the field doesn't show.
    if (text.size() > maxFieldLength ||
        characterCount(text, maxPrefillCharacters) > maxPrefillCharacters)
        return;
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return;
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return;
    if (url.host().isEmpty())
        return;
    setUrl(text);
}

void QuickSaveModel::focused() {
    if (std::exchange(m_prefillWaiting, false) && !std::holds_alternative<phase::Saving>(m_phase))
        prefillFromClipboard();
}

void QuickSaveModel::closed() {
    m_prefillWaiting = false;
    if (m_poll) {
        m_poll->cancel.cancel();
        m_poll.reset();
    }
    if (std::holds_alternative<phase::Done>(m_phase) ||
        std::holds_alternative<phase::Queued>(m_phase) ||
        std::holds_alternative<phase::Many>(m_phase)) {
        setPhase(phase::Idle{});
        setUrl(QString());
    }
}

void QuickSaveModel::save() {
    if (holdsMany()) {
        const auto* many = std::get_if<phase::Many>(&m_phase);
        if (m_found.tooMany() || m_found.cut || (many && many->running) ||
            std::holds_alternative<phase::Saving>(m_phase))
            return;
        phase::Many start;
        start.total = int(m_found.links.size());
        setPhase(start);
        if (m_poll)
            m_poll->cancel.cancel();
        CancelToken cancel;
        m_poll.emplace(Poll{cancel, runMany(m_found.links, m_url, cancel, {})});
        return;
    }
    const QString link = m_url.trimmed();
    const auto* many = std::get_if<phase::Many>(&m_phase);
    if (link.isEmpty() || std::holds_alternative<phase::Saving>(m_phase) || (many && many->running))
        return;
    setPhase(phase::Saving{});
    if (m_poll)
        m_poll->cancel.cancel();
    CancelToken cancel;
    m_poll.emplace(Poll{cancel, runSave(link, cancel)});
}

void QuickSaveModel::signIn() {
    dismiss();
    LibraryWindow::load(Config::api(QStringLiteral("signin")));
    LibraryWindow::show();
}

QCoro::Task<> QuickSaveModel::loadRecent() {
    return loadRecent(CancelToken());
}

QCoro::Task<> QuickSaveModel::loadRecent(CancelToken cancel) {
    QPointer<QuickSaveModel> self(this);
    try {
        QList<SaveRow> rows = co_await m_client->recent(recentLimit, cancel);
        if (!self)
            co_return;
        setRecent(std::move(rows));
        if (std::holds_alternative<phase::SignedOut>(m_phase))
            setPhase(phase::Idle{});
        // The service answers: what waits can go.
        if (m_outbox)
            m_outbox->send();
    } catch (const APIError& error) {
        if (self && error.code() == QLatin1String("unauthenticated")) {
            setRecent({});
            setPhase(phase::SignedOut{});
        }
    } catch (...) {
        // Any other failure leaves the list and the phase as they are.
    }
}

QCoro::Task<> QuickSaveModel::runSave(QString link, CancelToken cancel) {
    QPointer<QuickSaveModel> self(this);
    // What the field held as the save began: a link typed or handed over since then stays.
    const QString field = m_url;
    // Signed out, nothing is sent (the client would refuse) and nothing is written down.
    const std::optional<QString> session = co_await Session::fingerprint();
    if (!self)
        co_return;
    if (!session) {
        setPhase(phase::SignedOut{});
        co_return;
    }
    // The link is in the outbox's file before the request leaves.
    QPointer<Outbox> outbox = m_outbox;
    bool held = false;
    if (outbox) {
        outbox->setSession(session);
        held = outbox->hold(link);
    }
    const auto finish = [&](Outbox::Answer answer) {
        // Closing the panel cut the save short, not the network: the outbox sends it now (not
        // so when the app ends).
        if (held && outbox)
            outbox->finish(link, *session, answer, cancel.isCancelled() && self && !m_ending);
    };
    SaveOutcome outcome;
    try {
        outcome = co_await m_client->save(link, cancel);
    } catch (const APIError& error) {
        const Outbox::Answer answer = Outbox::classify(error);
        finish(answer);
        if (!self)
            co_return;
        if (error.code() == QLatin1String("unauthenticated")) {
            setPhase(phase::SignedOut{});
        } else if (answer == Outbox::Answer::Later && held) {
            // The service's own words on why it can't take the link now, if it said any.
            setPhase(phase::Queued{error.isServiceBody() ? error.message() : QString()});
            if (m_url == field)
                setUrl(QString());
        } else {
            setPhase(phase::Failed{error.message()});
        }
        co_return;
    } catch (...) {
        // A success that can't be read: the link waits, and the service's answer to the next
        // post of it tells.
        finish(Outbox::Answer::Later);
        if (!self)
            co_return;
        setPhase(held ? Phase(phase::Queued{}) : Phase(phase::Failed{offlineMessage()}));
        if (held && m_url == field)
            setUrl(QString());
        co_return;
    }
    finish(Outbox::Answer::Saved);
    if (!self)
        co_return;

    SaveRow provisional;
    provisional.id = outcome.id;
    provisional.url = link;
    provisional.status = QStringLiteral("queued");
    setPhase(phase::Done{provisional, outcome.existing});
    if (m_url == field)
        setUrl(QString());

    co_await loadRecent(cancel);
    if (!self)
        co_return;

    Clock& clock = Platform::clock();
    for (int attempt = 0; attempt < pollTries; ++attempt) {
        co_await clock.sleepUntil(clock.now() + pollInterval, cancel);
        if (!self || cancel.isCancelled())
            co_return;
        std::optional<SaveRow> row;
        try {
            row = co_await m_client->get(outcome.id, cancel);
        } catch (...) {
            // A failed poll is skipped; the next attempt follows.
        }
        if (!self)
            co_return;
        if (!row)
            continue;
        setPhase(phase::Done{*row, outcome.existing});
        if (isSettled(*row))
            break;
    }
    if (cancel.isCancelled())
        co_return;
    co_await loadRecent(cancel);
}

} // namespace pinlark
