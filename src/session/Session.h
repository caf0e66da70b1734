#pragma once

#include <QCoro/QCoroTask>
#include <QList>
#include <QNetworkCookie>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace pinlark {

// The user's session: the service's session cookies in the web view's cookie store.
class Session {
public:
    // The bearer token: the values of the session cookies whose domain matches the origin's
    // host, in ascending order of name, joined without separator. None when there is none.
    static QCoro::Task<std::optional<QString>> bearer();

    // A one-way fingerprint of the current session (SHA-256 of the token, in hex): what is kept
    // beside data that belongs to one session, never the token itself. None when signed out.
    static QCoro::Task<std::optional<QString>> fingerprint();
    static QString fingerprintOf(const QString& token);

    // Deletes every session cookie, of every domain, one after another.
    static QCoro::Task<> signOut();

    // Calls `onChange` each time a session cookie is added, replaced or removed (a sign-in or
    // sign-out in the library window or the browser, an expiry), for as long as `context` lives.
    static void watch(QObject* context, std::function<void()> onChange);

    // "authjs.session-token", optionally prefixed "__Secure-", optionally followed by "." and
    // one or more numeric characters (the chunks of one token).
    static bool isSessionCookie(const QString& name);

private:
    friend class TestSession;
    // Whether a cookie of `domain` belongs to `host`: the domain (one leading dot dropped)
    // equals the host, or the host ends with "." and the domain.
    static bool domainMatches(const QString& domain, const QString& host);
    // The token from a list of cookies in the store's order.
    static std::optional<QString> token(const QList<QNetworkCookie>& cookies, const QString& host);

    static QCoro::Task<QList<QNetworkCookie>> allCookies();
    static QCoro::Task<> remove(QNetworkCookie cookie);
};

} // namespace pinlark
