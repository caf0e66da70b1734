#include "session/Session.h"

#include "platform/Async.h"
#include "platform/Platform.h"
#include "service/Config.h"
#include "service/HostMatch.h"

#include <QCryptographicHash>

#include <algorithm>

namespace pinlark {

bool Session::isSessionCookie(const QString& name) {
    QStringView rest(name);
    if (rest.startsWith(QLatin1String("__Secure-")))
        rest = rest.mid(9);
    if (!rest.startsWith(QLatin1String("authjs.session-token")))
        return false;
    rest = rest.mid(20);
    if (rest.isEmpty())
        return true;
    if (!rest.startsWith(QLatin1Char('.')))
        return false;
    rest = rest.mid(1);
    if (rest.isEmpty())
        return false;
    const auto scalars = rest.toUcs4();
    return std::all_of(scalars.begin(), scalars.end(),
                       [](char32_t c) { return QChar::isNumber(c); });
}

bool Session::domainMatches(const QString& domain, const QString& host) {
    QStringView d(domain);
    if (d.startsWith(QLatin1Char('.')))
        d = d.mid(1);
    return hostIsInDomain(host, d);
}

std::optional<QString> Session::token(const QList<QNetworkCookie>& cookies, const QString& host) {
    QList<QNetworkCookie> kept;
    for (const QNetworkCookie& c : cookies) {
        if (isSessionCookie(QString::fromUtf8(c.name())) && domainMatches(c.domain(), host))
            kept.append(c);
    }
    if (kept.isEmpty())
        return std::nullopt;
    // Byte order of the UTF-8 names is the order of their Unicode scalar values.
    std::stable_sort(
        kept.begin(), kept.end(),
        [](const QNetworkCookie& a, const QNetworkCookie& b) { return a.name() < b.name(); });
    QByteArray joined;
    for (const QNetworkCookie& c : std::as_const(kept))
        joined += c.value();
    return QString::fromUtf8(joined);
}

QCoro::Task<std::optional<QString>> Session::bearer() {
    const QString host = Config::origin().host();
    co_return token(co_await allCookies(), host);
}

QString Session::fingerprintOf(const QString& token) {
    return QString::fromLatin1(
        QCryptographicHash::hash("pinlark session\n" + token.toUtf8(), QCryptographicHash::Sha256)
            .toHex());
}

QCoro::Task<std::optional<QString>> Session::fingerprint() {
    const std::optional<QString> token = co_await bearer();
    co_return token ? std::optional<QString>(fingerprintOf(*token)) : std::nullopt;
}

QCoro::Task<> Session::signOut() {
    const QList<QNetworkCookie> cookies = co_await allCookies();
    for (const QNetworkCookie& c : cookies) {
        if (isSessionCookie(QString::fromUtf8(c.name())))
            co_await remove(c);
    }
}

void Session::watch(QObject* context, std::function<void()> onChange) {
    QObject::connect(&Platform::cookieStore().changes(), &CookieChanges::changed, context,
                     [onChange = std::move(onChange)](const QNetworkCookie& cookie) {
                         if (isSessionCookie(QString::fromUtf8(cookie.name())))
                             onChange();
                     });
}

QCoro::Task<QList<QNetworkCookie>> Session::allCookies() {
    Completion<QList<QNetworkCookie>> done;
    Platform::cookieStore().getAllCookies(
        [done](QList<QNetworkCookie> cookies) mutable { done(std::move(cookies)); });
    co_return co_await done;
}

QCoro::Task<> Session::remove(QNetworkCookie cookie) {
    Completion<> done;
    Platform::cookieStore().deleteCookie(cookie, [done]() mutable { done(); });
    co_await done;
}

} // namespace pinlark
