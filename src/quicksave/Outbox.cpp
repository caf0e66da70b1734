#include "quicksave/Outbox.h"

#include "Product.h"
#include "platform/AtomicFile.h"
#include "platform/FileLock.h"
#include "platform/Log.h"
#include "platform/Platform.h"
#include "platform/Printable.h"
#include "session/Session.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QStandardPaths>

namespace pinlark {

namespace {

const QString linksKey = QStringLiteral("links");
const QString refusedKey = QStringLiteral("refused");
const QString urlKey = QStringLiteral("url");
const QString queuedKey = QStringLiteral("queued");
const QString sessionKey = QStringLiteral("session");
const QString reasonKey = QStringLiteral("reason");
const QString whenKey = QStringLiteral("when");

QByteArray encode(const Outbox::Contents& contents) {
    QJsonArray links;
    for (const Outbox::Entry& entry : contents.entries)
        links.append(QJsonObject{{urlKey, entry.url},
                                 {queuedKey, entry.queued.toString(Qt::ISODateWithMs)},
                                 {sessionKey, entry.session}});
    QJsonObject object{{linksKey, links}};
    if (!contents.refused.isEmpty()) {
        QJsonArray refused;
        for (const Outbox::Refusal& refusal : contents.refused)
            refused.append(QJsonObject{{urlKey, refusal.url},
                                       {reasonKey, refusal.reason},
                                       {whenKey, refusal.when.toString(Qt::ISODateWithMs)}});
        object.insert(refusedKey, refused);
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// The list in `bytes`, or none when they are not one this class writes. A link without a
// session (written before links carried one) belongs to no session: the user decides.
std::optional<Outbox::Contents> decode(const QByteArray& bytes) {
    if (bytes.size() > Outbox::maxBytes)
        return std::nullopt;
    const QJsonObject document = QJsonDocument::fromJson(bytes).object();
    const QJsonValue links = document.value(linksKey);
    const QJsonArray refused = document.value(refusedKey).toArray();
    if (!links.isArray() || links.toArray().size() > Outbox::maxLinks ||
        refused.size() > Outbox::keptRefusals)
        return std::nullopt;
    const auto time = [](const QJsonObject& object, const QString& key) {
        return QDateTime::fromString(object.value(key).toString(), Qt::ISODateWithMs).toUTC();
    };
    Outbox::Contents contents;
    for (const QJsonValue& value : links.toArray()) {
        const QJsonObject link = value.toObject();
        const QString url = link.value(urlKey).toString();
        const QDateTime queued = time(link, queuedKey);
        if (url.isEmpty() || !queued.isValid())
            return std::nullopt;
        contents.entries.append({url, queued, link.value(sessionKey).toString()});
    }
    for (const QJsonValue& value : refused) {
        const QJsonObject refusal = value.toObject();
        // Written by an older build, the service's words may still hold control characters.
        contents.refused.append({printable(refusal.value(urlKey).toString()),
                                 printable(refusal.value(reasonKey).toString()),
                                 time(refusal, whenKey)});
    }
    return contents;
}

} // namespace

void Outbox::report(const QString& text) {
    logLine(QStringLiteral("[Pinlark] outbox ") + text);
}

Outbox::Outbox(QString path, std::shared_ptr<SavesClient> client, QObject* parent)
    : QObject(parent)
    , m_path(std::move(path))
    , m_client(std::move(client)) {
    Session::watch(this, [this] { refreshSession(); });
    removeDeadWritersFiles(m_path);
    if (!QFileInfo::exists(m_path))
        return;
    // Under the lock, as a bad file is kept aside.
    FileLock lock(m_path, FileLock::Wait);
    if (lock.locked())
        m_contents = readLocked().value_or(Contents());
}

Outbox::~Outbox() {
    m_cancel.cancel();
}

QString Outbox::standardPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QLatin1Char('/') + QLatin1String(Product::bundleIdentifier) +
           QLatin1String("/outbox.json");
}

std::optional<Outbox::Contents> Outbox::peek(const QString& path, QString* error) {
    const std::optional<QByteArray> bytes = readExistingFile(path, error, maxBytes);
    if (!bytes)
        return error->isEmpty() ? std::optional<Contents>(Contents()) : std::nullopt;
    std::optional<Contents> contents = decode(*bytes);
    if (!contents)
        *error = QStringLiteral("not a list of links");
    return contents;
}

std::optional<QDateTime> Outbox::oldest() const {
    if (m_contents.entries.isEmpty())
        return std::nullopt;
    return m_contents.entries.first().queued;
}

void Outbox::setSession(std::optional<QString> session) {
    if (session == m_session)
        return;
    m_session = std::move(session);
    Q_EMIT changed();
    Q_EMIT sessionChanged();
    if (sendableCount())
        send();
}

QCoro::Task<> Outbox::refreshSession() {
    QPointer<Outbox> self(this);
    std::optional<QString> session = co_await Session::fingerprint();
    if (self)
        setSession(std::move(session));
}

bool Outbox::sendable(const Entry& entry) const {
    return m_session && entry.session == *m_session;
}

bool Outbox::isHeld(const Entry& entry) const {
    return m_held.contains(std::pair(entry.url, entry.session));
}

void Outbox::drop(Contents& contents, const QString& url, const QString& session) {
    contents.entries.removeIf(
        [&](const Entry& entry) { return entry.url == url && entry.session == session; });
}

int Outbox::sendableCount() const {
    return int(std::count_if(m_contents.entries.cbegin(), m_contents.entries.cend(),
                             [this](const Entry& entry) { return sendable(entry); }));
}

QList<Outbox::Entry> Outbox::foreign() const {
    QList<Entry> links;
    if (m_session) {
        for (const Entry& entry : m_contents.entries) {
            if (!sendable(entry))
                links.append(entry);
        }
    }
    return links;
}

void Outbox::adopt() {
    if (!m_session)
        return;
    const QString session = *m_session;
    update([&](Contents& contents) {
        // A link saved under both sessions waits once, where it was first put in.
        QList<Entry> adopted;
        for (Entry entry : std::as_const(contents.entries)) {
            entry.session = session;
            if (std::none_of(adopted.cbegin(), adopted.cend(),
                             [&](const Entry& e) { return e.url == entry.url; }))
                adopted.append(entry);
        }
        contents.entries = adopted;
        return true;
    });
    send();
}

void Outbox::discardForeign() {
    if (!m_session)
        return;
    const QString session = *m_session;
    update([&](Contents& contents) {
        contents.entries.removeIf([&](const Entry& entry) { return entry.session != session; });
        return true;
    });
}

void Outbox::discardAll() {
    update([](Contents& contents) {
        contents.entries.clear();
        return true;
    });
}

bool Outbox::add(const QString& url) {
    const bool added = insert(url);
    if (added && !m_sending && !m_retry)
        scheduleRetry();
    return added;
}

bool Outbox::insert(const QString& url) {
    if (!m_session)
        return false;
    const QString session = *m_session;
    const QDateTime now = Platform::clock().currentUtc();
    return update([&](Contents& contents) {
        if (std::any_of(
                contents.entries.cbegin(), contents.entries.cend(),
                [&](const Entry& entry) { return entry.url == url && entry.session == session; }))
            return true;
        if (contents.entries.size() >= maxLinks)
            return false;
        contents.entries.append({url, now, session});
        return true;
    });
}

bool Outbox::hold(const QString& url) {
    if (!insert(url))
        return false;
    m_held.append({url, *m_session});
    return true;
}

void Outbox::finish(const QString& url, const QString& session, Answer answer, bool now) {
    if (!m_held.removeOne(std::pair(url, session)))
        return;
    if (answer != Answer::Later) {
        update([&](Contents& contents) {
            drop(contents, url, session);
            return true;
        });
    } else if (now) {
        send();
    } else if (!m_sending && !m_retry) {
        scheduleRetry();
    }
}

std::optional<Outbox::Contents> Outbox::readLocked() {
    QString error;
    if (std::optional<Contents> contents = peek(m_path, &error))
        return contents;
    // Never over an earlier one.
    const QString first = corruptAsidePath(m_path, Platform::clock().currentUtc());
    QString aside = first;
    for (int n = 1; QFileInfo::exists(aside); ++n)
        aside = first + QLatin1Char('-') + QString::number(n);
    if (!QFile::rename(m_path, aside)) {
        report(QStringLiteral("%1 can't be read (%2) nor kept aside").arg(m_path, error));
        return std::nullopt;
    }
    report(QStringLiteral("%1 can't be read (%2); kept it as %3").arg(m_path, error, aside));
    return Contents();
}

bool Outbox::update(const std::function<bool(Contents&)>& change) {
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder))
        return false;
    FileLock lock(m_path, FileLock::Wait);
    if (!lock.locked())
        return false;
    std::optional<Contents> contents = readLocked();
    if (!contents)
        return false;
    const Contents before = *contents;
    if (!change(*contents)) {
        setContents(before);
        return false;
    }
    if (*contents != before) {
        const QByteArray bytes = encode(*contents);
        if (bytes.size() > maxBytes) {
            setContents(before);
            return false;
        }
        // An empty list is no file.
        QString error;
        if (!contents->entries.isEmpty() || !contents->refused.isEmpty())
            error = writeFileAtomically(m_path, bytes);
        else if (QFile::exists(m_path) && !QFile::remove(m_path))
            error = QStringLiteral("it can't be removed");
        if (!error.isEmpty()) {
            report(QStringLiteral("%1 can't be written: %2").arg(m_path, error));
            setContents(before);
            return false;
        }
    }
    setContents(*contents);
    return true;
}

void Outbox::setContents(Contents contents) {
    if (contents == m_contents)
        return;
    m_contents = std::move(contents);
    Q_EMIT changed();
}

} // namespace pinlark
