#include "platform/qt/WebEngineCookieStore.h"

#include "Product.h"
#include "platform/AtomicFile.h"
#include "platform/Log.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <optional>
#include <system_error>

namespace pinlark {

namespace {

WebEngineCookieStore* standardStore = nullptr;
WebEngineCookieStore::Join joinEngine;

bool isExpired(const QNetworkCookie& c, const QDateTime& now) {
    return !c.isSessionCookie() && c.expirationDate() <= now;
}

// WebEngine takes a host-only cookie (a domain without a leading dot) as a cookie without a
// domain attribute plus the origin it belongs to; a domain cookie carries its own domain.
std::pair<QNetworkCookie, QUrl> forWebEngine(const QNetworkCookie& cookie) {
    if (cookie.domain().startsWith(QLatin1Char('.')) || cookie.domain().isEmpty())
        return {cookie, QUrl()};
    QNetworkCookie hostOnly = cookie;
    hostOnly.setDomain(QString());
    QUrl origin;
    origin.setScheme(cookie.isSecure() ? QStringLiteral("https") : QStringLiteral("http"));
    origin.setHost(cookie.domain());
    origin.setPath(cookie.path().isEmpty() ? QStringLiteral("/") : cookie.path());
    return {hostOnly, origin};
}

QJsonObject toJson(const QNetworkCookie& c) {
    QJsonObject o{
        {QLatin1String("name"), QString::fromLatin1(c.name().toBase64())},
        {QLatin1String("value"), QString::fromLatin1(c.value().toBase64())},
        {QLatin1String("domain"), c.domain()},
        {QLatin1String("path"), c.path()},
        {QLatin1String("secure"), c.isSecure()},
        {QLatin1String("httpOnly"), c.isHttpOnly()},
        {QLatin1String("sameSite"), int(c.sameSitePolicy())},
    };
    if (!c.isSessionCookie())
        o.insert(QLatin1String("expires"), c.expirationDate().toMSecsSinceEpoch());
    return o;
}

std::optional<QNetworkCookie> fromJson(const QJsonValue& v) {
    if (!v.isObject())
        return std::nullopt;
    const QJsonObject o = v.toObject();
    if (!o.value(QLatin1String("name")).isString() || !o.value(QLatin1String("value")).isString())
        return std::nullopt;
    QNetworkCookie c(QByteArray::fromBase64(o.value(QLatin1String("name")).toString().toLatin1()),
                     QByteArray::fromBase64(o.value(QLatin1String("value")).toString().toLatin1()));
    if (c.name().isEmpty())
        return std::nullopt;
    c.setDomain(o.value(QLatin1String("domain")).toString());
    c.setPath(o.value(QLatin1String("path")).toString());
    c.setSecure(o.value(QLatin1String("secure")).toBool());
    c.setHttpOnly(o.value(QLatin1String("httpOnly")).toBool());
    c.setSameSitePolicy(QNetworkCookie::SameSite(o.value(QLatin1String("sameSite")).toInt()));
    const QJsonValue expires = o.value(QLatin1String("expires"));
    if (expires.isDouble()) {
        // Clamped to the years 1 to 9999 before the conversion, which is undefined beyond qint64.
        constexpr double earliest = -62135596800000.0, latest = 253402300799999.0;
        const double ms = std::clamp(expires.toDouble(), earliest, latest);
        c.setExpirationDate(QDateTime::fromMSecsSinceEpoch(qint64(ms), Qt::UTC));
    }
    return c;
}

void later(std::function<void()> done) {
    QTimer::singleShot(0, std::move(done));
}

} // namespace

WebEngineCookieStore::WebEngineCookieStore()
    : WebEngineCookieStore(standardMirrorPath()) {
    standardStore = this;
    if (joinEngine)
        attach(joinEngine(*this));
}

WebEngineCookieStore::WebEngineCookieStore(QString mirrorPath)
    : m_mirrorPath(std::move(mirrorPath)) {
    m_expiry.setSingleShot(true);
    connect(&m_expiry, &QTimer::timeout, this, &WebEngineCookieStore::dropExpired);
    load();
}

WebEngineCookieStore::~WebEngineCookieStore() {
    if (standardStore == this)
        standardStore = nullptr;
    flush();
}

void WebEngineCookieStore::engineStarted(Join join) {
    joinEngine = std::move(join);
    if (standardStore)
        standardStore->attach(joinEngine(*standardStore));
}

QString WebEngineCookieStore::standardMirrorPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1Char('/') + QLatin1String(Product::bundleIdentifier) +
           QLatin1String(".cookies.json");
}

void WebEngineCookieStore::attach(std::unique_ptr<Engine> engine) {
    if (m_engine || !engine)
        return;
    m_engine = std::move(engine);
    // What WebEngine kept on disk of a cookie deleted meanwhile goes.
    for (const QNetworkCookie& cookie : std::exchange(m_deleted, {})) {
        const auto [c, origin] = forWebEngine(cookie);
        m_engine->deleteCookie(c, origin);
    }
    // Put back what WebEngine may have lost; it answers with removed-then-added for cookies it
    // still had, which leaves the mirror as it is.
    for (const QNetworkCookie& cookie : std::as_const(m_cookies)) {
        const auto [c, origin] = forWebEngine(cookie);
        m_engine->setCookie(c, origin);
    }
}

void WebEngineCookieStore::load() {
    QFile file(m_mirrorPath);
    if (!file.open(QIODevice::ReadOnly)) {
        // Missing only when nothing is there (a link to nothing counts as missing); a mirror that
        // is there but could not be opened still holds the cookies.
        std::error_code error;
        (void)std::filesystem::status(std::filesystem::path(m_mirrorPath.toStdU16String()), error);
        if (error == std::errc::no_such_file_or_directory)
            return;
        m_unreadable = true;
        logLine(QStringLiteral("[Pinlark] cookie mirror %1 could not be opened (%2); cookie "
                               "changes are not saved until the app starts again")
                    .arg(m_mirrorPath, file.errorString()));
        return;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        m_unreadable = true;
        logLine(QStringLiteral("[Pinlark] cookie mirror %1 could not be read (%2); cookie "
                               "changes are not saved until the app starts again")
                    .arg(m_mirrorPath, file.errorString()));
        return;
    }
    file.close();
    const QJsonDocument doc = QJsonDocument::fromJson(bytes);
    if (!doc.isArray()) {
        // Keep the bytes for inspection; the mirror starts empty.
        const QString aside = corruptAsidePath(m_mirrorPath);
        if (QFile::rename(m_mirrorPath, aside)) {
            logLine(QStringLiteral("[Pinlark] cookie mirror %1 is not a list of cookies; kept it "
                                   "as %2 and started an empty mirror")
                        .arg(m_mirrorPath, aside));
        } else {
            m_unreadable = true;
            logLine(QStringLiteral("[Pinlark] cookie mirror %1 is not a list of cookies and could "
                                   "not be kept aside; cookie changes are not saved")
                        .arg(m_mirrorPath));
        }
        return;
    }
    for (const QJsonValue& v : doc.array()) {
        if (auto cookie = fromJson(v))
            m_cookies.append(*cookie);
    }
    dropExpired();
}

void WebEngineCookieStore::added(const QNetworkCookie& cookie) {
    m_cookies.removeIf([&](const QNetworkCookie& c) { return c.hasSameIdentifier(cookie); });
    m_cookies.append(cookie);
    scheduleWrite();
    armExpiry();
    Q_EMIT changes().changed(cookie);
}

void WebEngineCookieStore::removed(const QNetworkCookie& cookie) {
    if (m_cookies.removeIf([&](const QNetworkCookie& c) { return c.hasSameIdentifier(cookie); })) {
        scheduleWrite();
        Q_EMIT changes().changed(cookie);
    }
}

void WebEngineCookieStore::dropExpired() {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QList<QNetworkCookie> gone;
    m_cookies.removeIf([&](const QNetworkCookie& c) {
        if (!isExpired(c, now))
            return false;
        gone.append(c);
        return true;
    });
    armExpiry();
    if (gone.isEmpty())
        return;
    scheduleWrite();
    for (const QNetworkCookie& cookie : std::as_const(gone))
        Q_EMIT changes().changed(cookie);
}

void WebEngineCookieStore::armExpiry() {
    // WebEngine tells of an expired cookie only at the next request to its host: the mirror
    // drops it, and says so, when it expires.
    std::optional<QDateTime> next;
    for (const QNetworkCookie& c : std::as_const(m_cookies)) {
        if (!c.isSessionCookie() && (!next || c.expirationDate() < *next))
            next = c.expirationDate();
    }
    if (!next) {
        m_expiry.stop();
        return;
    }
    // A timer runs at most about 24 days; a later expiry is looked at again then.
    constexpr qint64 longest = std::numeric_limits<int>::max();
    const qint64 ms =
        std::clamp<qint64>(QDateTime::currentDateTimeUtc().msecsTo(*next) + 1, 0, longest);
    m_expiry.start(int(ms));
}

void WebEngineCookieStore::scheduleWrite() {
    if (m_dirty)
        return;
    m_dirty = true;
    // Coalesce the bursts of changes a page load makes into one write.
    QTimer::singleShot(0, this, &WebEngineCookieStore::flush);
}

void WebEngineCookieStore::flush() {
    if (!m_dirty)
        return;
    m_dirty = false;
    // Never replace a mirror that could not be read: the cookies in it may be the only copy.
    if (m_unreadable)
        return;
    QJsonArray array;
    for (const QNetworkCookie& c : std::as_const(m_cookies))
        array.append(toJson(c));
    const QString error =
        writeFileAtomically(m_mirrorPath, QJsonDocument(array).toJson(QJsonDocument::Compact));
    if (!error.isEmpty())
        logLine(QStringLiteral("[Pinlark] could not write cookie mirror %1: %2")
                    .arg(m_mirrorPath, error));
}

void WebEngineCookieStore::getAllCookies(std::function<void(QList<QNetworkCookie>)> done) {
    dropExpired();
    later([done = std::move(done), cookies = m_cookies] { done(cookies); });
}

void WebEngineCookieStore::setCookie(const QNetworkCookie& cookie, std::function<void()> done) {
    if (m_engine) {
        const auto [c, origin] = forWebEngine(cookie);
        m_engine->setCookie(c, origin);
    }
    m_deleted.removeIf([&](const QNetworkCookie& c) { return c.hasSameIdentifier(cookie); });
    added(cookie);
    later(std::move(done));
}

void WebEngineCookieStore::deleteCookie(const QNetworkCookie& cookie, std::function<void()> done) {
    if (m_engine) {
        const auto [c, origin] = forWebEngine(cookie);
        m_engine->deleteCookie(c, origin);
    } else {
        m_deleted.append(cookie);
    }
    removed(cookie);
    later(std::move(done));
}

} // namespace pinlark
