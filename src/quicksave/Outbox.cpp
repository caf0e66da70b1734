#include "quicksave/Outbox.h"

#include "Product.h"
#include "platform/AtomicFile.h"
#include "platform/FileLock.h"
#include "platform/Log.h"
#include "platform/Platform.h"
#include "service/APIError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInformation>
#include <QPointer>
#include <QStandardPaths>

namespace pinlark {

namespace {

const QString linksKey = QStringLiteral("links");
const QString urlKey = QStringLiteral("url");
const QString queuedKey = QStringLiteral("queued");

QByteArray encode(const QList<Outbox::Entry>& entries) {
    QJsonArray links;
    for (const Outbox::Entry& entry : entries)
        links.append(QJsonObject{{urlKey, entry.url},
                                 {queuedKey, entry.queued.toString(Qt::ISODateWithMs)}});
    return QJsonDocument(QJsonObject{{linksKey, links}}).toJson(QJsonDocument::Compact);
}

// The list in `bytes`, or none when they are not one this class writes.
std::optional<QList<Outbox::Entry>> decode(const QByteArray& bytes) {
    if (bytes.size() > Outbox::maxBytes)
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    const QJsonValue links = document.object().value(linksKey);
    if (!links.isArray() || links.toArray().size() > Outbox::maxLinks)
        return std::nullopt;
    QList<Outbox::Entry> entries;
    for (const QJsonValue& link : links.toArray()) {
        const QJsonValue url = link.toObject().value(urlKey);
        const QDateTime queued =
            QDateTime::fromString(link.toObject().value(queuedKey).toString(), Qt::ISODateWithMs);
        if (!url.isString() || url.toString().isEmpty() || !queued.isValid())
            return std::nullopt;
        entries.append({url.toString(), queued.toUTC()});
    }
    return entries;
}

void report(const QString& text) {
    logLine(QStringLiteral("[Pinlark] outbox ") + text);
}

} // namespace

Outbox::Outbox(QString path, std::shared_ptr<SavesClient> client, QObject* parent)
    : QObject(parent)
    , m_path(std::move(path))
    , m_client(std::move(client)) {
    removeDeadWritersFiles(m_path);
    if (!QFileInfo::exists(m_path))
        return;
    // Under the lock, as a bad file is kept aside.
    FileLock lock(m_path, FileLock::Wait);
    if (lock.locked())
        m_entries = readLocked().value_or(QList<Entry>());
}

Outbox::~Outbox() {
    m_cancel.cancel();
}

QString Outbox::standardPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QLatin1Char('/') + QLatin1String(Product::bundleIdentifier) +
           QLatin1String("/outbox.json");
}

std::optional<QDateTime> Outbox::oldest() const {
    if (m_entries.isEmpty())
        return std::nullopt;
    return m_entries.first().queued;
}

bool Outbox::add(const QString& url) {
    const bool added = update([&](QList<Entry>& entries) {
        if (std::any_of(entries.cbegin(), entries.cend(),
                        [&](const Entry& entry) { return entry.url == url; }))
            return true;
        if (entries.size() >= maxLinks)
            return false;
        entries.append({url, QDateTime::currentDateTimeUtc()});
        return true;
    });
    if (added && !m_sending && !m_retry)
        scheduleRetry();
    return added;
}

std::optional<QList<Outbox::Entry>> Outbox::readLocked() {
    QString error;
    const std::optional<QByteArray> bytes = readExistingFile(m_path, &error, maxBytes);
    if (!bytes && error.isEmpty())
        return QList<Entry>();
    if (bytes) {
        if (auto entries = decode(*bytes))
            return entries;
        error = QStringLiteral("not a list of links");
    }
    // Never over an earlier one.
    const QString first = corruptAsidePath(m_path);
    QString aside = first;
    for (int n = 1; QFileInfo::exists(aside); ++n)
        aside = first + QLatin1Char('-') + QString::number(n);
    if (!QFile::rename(m_path, aside)) {
        report(QStringLiteral("%1 can't be read (%2) nor kept aside").arg(m_path, error));
        return std::nullopt;
    }
    report(QStringLiteral("%1 can't be read (%2); kept it as %3").arg(m_path, error, aside));
    return QList<Entry>();
}

bool Outbox::update(const std::function<bool(QList<Entry>&)>& change) {
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder))
        return false;
    FileLock lock(m_path, FileLock::Wait);
    if (!lock.locked())
        return false;
    std::optional<QList<Entry>> entries = readLocked();
    if (!entries)
        return false;
    const QList<Entry> before = *entries;
    if (!change(*entries)) {
        setEntries(before);
        return false;
    }
    if (*entries != before) {
        const QByteArray bytes = encode(*entries);
        if (bytes.size() > maxBytes) {
            setEntries(before);
            return false;
        }
        // An empty list is no file.
        QString error;
        if (!entries->isEmpty())
            error = writeFileAtomically(m_path, bytes);
        else if (QFile::exists(m_path) && !QFile::remove(m_path))
            error = QStringLiteral("it can't be removed");
        if (!error.isEmpty()) {
            report(QStringLiteral("%1 can't be written: %2").arg(m_path, error));
            setEntries(before);
            return false;
        }
    }
    setEntries(*entries);
    return true;
}

void Outbox::setEntries(QList<Entry> entries) {
    if (entries == m_entries)
        return;
    m_entries = std::move(entries);
    Q_EMIT changed();
}

void Outbox::send() {
    if (m_sending || m_entries.isEmpty())
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

void Outbox::scheduleRetry() {
    const Clock::Duration delay = m_delay;
    m_delay = std::min<Clock::Duration>(m_delay * 2, longestRetry);
    m_retry = Platform::clock().startTimer(delay, false, [this] { send(); });
}

Outbox::Answer Outbox::classify(const APIError& error) {
    // A sign-in the service wants, a time-out, a rate limit or an endpoint that isn't there say
    // nothing about the link; a sign-in sends the list again at once.
    const int status = error.status();
    const bool refusal = status >= 400 && status < 500 && status != 401 && status != 404 &&
                         status != 408 && status != 429;
    return refusal && error.code() != QLatin1String("unauthenticated") ? Answer::Refused
                                                                       : Answer::Later;
}

QCoro::Task<> Outbox::round() {
    QPointer<Outbox> self(this);
    const CancelToken cancel = m_cancel;
    const std::shared_ptr<SavesClient> client = m_client;
    bool delivered = false;
    while (!m_entries.isEmpty()) {
        const QString url = m_entries.first().url;
        Answer answer = Answer::Later;
        QString reason;
        try {
            co_await client->save(url, cancel);
            answer = Answer::Saved;
        } catch (const APIError& error) {
            answer = classify(error);
            reason = error.message();
        } catch (...) {
            // An answer that can't be read says nothing sure: the link waits for the next round
            // (the service's de-duplication makes a second post harmless).
        }
        if (!self || cancel.isCancelled())
            co_return;
        if (answer == Answer::Later)
            break;
        // A list that can't be written would send the link again at once: the round ends.
        if (!update([&](QList<Entry>& entries) {
                entries.removeIf([&](const Entry& entry) { return entry.url == url; });
                return true;
            }))
            break;
        if (answer == Answer::Refused) {
            report(QStringLiteral("the service refused a link: %1").arg(reason));
            tellRefused(url, reason);
        }
        delivered = delivered || answer == Answer::Saved;
    }
    m_sending = false;
    if (delivered)
        m_delay = firstRetry;
    if (!m_entries.isEmpty())
        scheduleRetry();
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
