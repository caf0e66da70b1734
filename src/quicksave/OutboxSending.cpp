// The outbox's sending: rounds that offer each sendable link to the service in turn, retries
// after a growing delay and when the network comes back, and what a refusal tells the user.

#include "quicksave/Outbox.h"

#include "platform/Platform.h"
#include "service/APIError.h"

#include <QNetworkInformation>
#include <QPointer>

namespace pinlark {

void Outbox::send() {
    if (m_sending || m_contents.entries.isEmpty())
        return;
    m_retry.reset();
    m_sending = true;
    round();
}

void Outbox::start() {
    watchNetwork();
    send();
}

void Outbox::watchNetwork() {
    // The default backend needs NetworkManager; GLib's network monitor works without it.
    if (!QNetworkInformation::loadDefaultBackend() &&
        !QNetworkInformation::loadBackendByName(u"glib"))
        return;
    connect(QNetworkInformation::instance(), &QNetworkInformation::reachabilityChanged, this,
            [this](QNetworkInformation::Reachability reachability) {
                if (reachability != QNetworkInformation::Reachability::Disconnected &&
                    reachability != QNetworkInformation::Reachability::Unknown)
                    send();
            });
}

void Outbox::scheduleRetry(std::optional<std::chrono::seconds> after) {
    const Clock::Duration delay = after ? Clock::Duration(*after) : m_delay;
    if (!after)
        m_delay = std::min<Clock::Duration>(m_delay * 2, longestRetry);
    m_retry = Platform::clock().startTimer(delay, false, [this] { send(); });
}

Outbox::Answer Outbox::classify(const APIError& error) {
    // Only the service's own error body speaks about the link; a sign-in the service wants, an
    // endpoint or method that isn't there, a time-out or a rate limit say nothing about it, and
    // any answer without that body (a proxy's or a portal's page) may not be the service's.
    const int status = error.status();
    static constexpr int notAboutTheLink[] = {401, 403, 404, 405, 408, 410, 429};
    const bool refusal = status >= 400 && status < 500 && error.isServiceBody() &&
                         std::find(std::begin(notAboutTheLink), std::end(notAboutTheLink),
                                   status) == std::end(notAboutTheLink);
    return refusal && error.code() != QLatin1String("unauthenticated") ? Answer::Refused
                                                                       : Answer::Later;
}

QCoro::Task<> Outbox::round() {
    QPointer<Outbox> self(this);
    const CancelToken cancel = m_cancel;
    const std::shared_ptr<SavesClient> client = m_client;
    bool delivered = false;
    std::optional<std::chrono::seconds> wait;
    co_await refreshSession();
    while (self && !cancel.isCancelled()) {
        const auto next =
            std::find_if(m_contents.entries.cbegin(), m_contents.entries.cend(),
                         [this](const Entry& entry) { return sendable(entry) && !isHeld(entry); });
        if (next == m_contents.entries.cend())
            break;
        const QString url = next->url;
        const QString session = next->session;
        Answer answer = Answer::Later;
        QString reason;
        bool otherSession = false;
        try {
            co_await client->save(url, cancel, session);
            answer = Answer::Saved;
        } catch (const APIError& error) {
            answer = classify(error);
            reason = error.message();
            wait = error.retryAfter();
            otherSession = error.code() == APIError::otherSession().code();
        } catch (...) {
            // An answer that can't be read says nothing sure: the link waits for the next round
            // (the service's de-duplication makes a second post harmless).
        }
        if (!self || cancel.isCancelled())
            co_return;
        if (otherSession) {
            // Signed in anew since the session was last learnt: the links of the one before
            // wait for the user's word.
            co_await refreshSession();
            if (!self || cancel.isCancelled())
                co_return;
        }
        if (answer == Answer::Later)
            break;
        // A list that can't be written would send the link again at once: the round ends.
        if (!update([&](Contents& contents) {
                drop(contents, url, session);
                if (answer == Answer::Refused) {
                    contents.refused.append({url, reason, Platform::clock().currentUtc()});
                    while (contents.refused.size() > keptRefusals)
                        contents.refused.removeFirst();
                }
                return true;
            }))
            break;
        if (answer == Answer::Refused) {
            report(QStringLiteral("the service refused a link: %1").arg(reason));
            tellRefused(url, reason);
        }
        delivered = delivered || answer == Answer::Saved;
    }
    if (!self || cancel.isCancelled())
        co_return;
    m_sending = false;
    if (delivered)
        m_delay = firstRetry;
    if (sendableCount())
        scheduleRetry(wait);
    if (delivered)
        Q_EMIT this->delivered();
}

// Told as the updater tells of a new version: a notification, or an alert where the app has no
// identifier to post notifications under.
QCoro::Task<> Outbox::tellRefused(QString url, QString reason) {
    const QString title = QStringLiteral("Pinlark couldn't save a link");
    const QString body = url + QStringLiteral("\n") + reason;
    if (!Platform::bundle().identifier()) {
        Platform::alerts().run({title, body, {QStringLiteral("OK")}});
        co_return;
    }
    // A named request: GCC 12 mistranslates a braced one inside a co_await.
    NotificationRequest request{
        QStringLiteral("refused-") + url, title, body, {{QStringLiteral("link"), url}}};
    try {
        co_await Platform::notifications().addIfAllowed(std::move(request));
    } catch (const Error& e) {
        report(
            QStringLiteral("notification authorization failed: %1").arg(e.localizedDescription()));
    }
}

} // namespace pinlark
