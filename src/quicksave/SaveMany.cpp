// The quick-save model's save of several links at once: each in order, through the outbox as a
// single save goes, with the phase (phase::Many) following them to a summary line.

#include "quicksave/Outbox.h"
#include "quicksave/QuickSaveModel.h"
#include "service/APIError.h"
#include "session/Session.h"

#include <QPointer>

namespace pinlark {

bool QuickSaveModel::saveLinks(QStringList links,
                               std::function<void(const phase::Many&)> finished) {
    const auto* many = std::get_if<phase::Many>(&m_phase);
    if (links.isEmpty() || links.size() > FoundLinks::maxLinks ||
        std::holds_alternative<phase::Saving>(m_phase) || (many && many->running))
        return false;
    phase::Many start;
    start.total = int(links.size());
    setPhase(start);
    if (m_poll)
        m_poll->cancel.cancel();
    CancelToken cancel;
    m_poll.emplace(Poll{cancel, runMany(std::move(links), QString(), cancel, std::move(finished))});
    return true;
}

QCoro::Task<> QuickSaveModel::runMany(QStringList links, QString field, CancelToken cancel,
                                      std::function<void(const phase::Many&)> finished) {
    QPointer<QuickSaveModel> self(this);
    phase::Many many;
    many.total = int(links.size());
    const auto end = [&] {
        many.running = false;
        setPhase(many);
        if (finished)
            finished(many);
    };
    // The service wants a sign-in: the panel asks for one.
    const auto endSignedOut = [&] {
        setPhase(phase::SignedOut{});
        many.signedOut = true;
        many.running = false;
        if (finished)
            finished(many);
    };
    const std::optional<QString> session = co_await Session::fingerprint();
    if (!self)
        co_return;
    if (!session) {
        endSignedOut();
        co_return;
    }
    // Every link is in the outbox's file before the first request leaves.
    QPointer<Outbox> outbox = m_outbox;
    QList<bool> held;
    if (outbox)
        outbox->setSession(session);
    for (const QString& link : std::as_const(links))
        held.append(outbox && outbox->hold(link));
    // The links not yet answered wait in the outbox, which sends them in its rounds.
    const auto leave = [&](qsizetype from, bool now) {
        for (qsizetype i = from; i < links.size(); ++i) {
            if (held[i] && outbox)
                outbox->finish(links[i], *session, Outbox::Answer::Later, now);
        }
    };
    if (m_url == field && !field.isEmpty())
        setUrl(QString());
    for (qsizetype i = 0; i < links.size(); ++i) {
        if (cancel.isCancelled()) {
            leave(i, self && !m_ending);
            co_return;
        }
        const QString& link = links[i];
        Outbox::Answer answer = Outbox::Answer::Later;
        bool existing = false;
        bool signedOut = false;
        QString message;
        try {
            const SaveOutcome outcome = co_await m_client->save(link, cancel);
            existing = outcome.existing;
            answer = Outbox::Answer::Saved;
        } catch (const APIError& error) {
            answer = Outbox::classify(error);
            signedOut = error.code() == QLatin1String("unauthenticated");
            message = error.message();
        } catch (...) {
        }
        if (held[i] && outbox)
            outbox->finish(link, *session, answer,
                           answer == Outbox::Answer::Later && cancel.isCancelled() && self &&
                               !m_ending);
        if (!self)
            co_return;
        if (cancel.isCancelled()) {
            leave(i + 1, !m_ending);
            co_return;
        }
        if (signedOut) {
            leave(i + 1, false);
            endSignedOut();
            co_return;
        }
        if (answer == Outbox::Answer::Later) {
            if (!held[i]) {
                // Not written down: it is not kept.
                ++many.failed;
                if (many.failure.isEmpty())
                    many.failure = message.isEmpty() ? offlineMessage() : message;
                setPhase(many);
                continue;
            }
            // No connection or the service can't take links now: the rest wait with it
            // rather than each wait for its own time-out.
            many.queued += int(links.size() - i);
            leave(i + 1, false);
            break;
        }
        if (answer == Outbox::Answer::Refused) {
            ++many.failed;
            if (many.failure.isEmpty())
                many.failure = message;
        } else if (existing) {
            ++many.existing;
        } else {
            ++many.saved;
        }
        if (many.answered() < many.total)
            setPhase(many);
    }
    end();
    co_await loadRecent(cancel);
}

namespace phase {

QString Many::line() const {
    if (running)
        return QStringLiteral("%1 of %2 saved\u2026").arg(answered()).arg(total);
    if (signedOut)
        return QStringLiteral("Sign in to save.");
    // One link alone says what a single save says.
    if (total == 1) {
        if (saved)
            return QStringLiteral("Saved");
        if (existing)
            return QStringLiteral("Already in your library");
        if (queued)
            return QStringLiteral("Saved on this computer");
        return failure;
    }
    QStringList parts;
    if (saved)
        parts.append(QStringLiteral("%1 saved").arg(saved));
    if (existing)
        parts.append(QStringLiteral("%1 already in your library").arg(existing));
    if (queued)
        parts.append(QStringLiteral("%1 saved on this computer").arg(queued));
    if (failed)
        parts.append(QStringLiteral("%1 couldn't be saved: %2").arg(failed).arg(failure));
    return parts.join(QStringLiteral(", "));
}

} // namespace phase

} // namespace pinlark
