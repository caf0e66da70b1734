#pragma once

#include <QList>
#include <QNetworkCookie>

#include <functional>

namespace pinlark {

// The web view's persistent cookie store. Every operation completes asynchronously: its
// handler runs once, later, on the main thread, and never reports an error.
class CookieStore {
public:
    virtual ~CookieStore() = default;

    // Every cookie in the store, expired ones left out.
    virtual void getAllCookies(std::function<void(QList<QNetworkCookie>)> done) = 0;
    // Inserts `cookie`, replacing the one with the same name, domain and path.
    virtual void setCookie(const QNetworkCookie& cookie, std::function<void()> done) = 0;
    // Deletes the cookie with the name, domain and path of `cookie`.
    virtual void deleteCookie(const QNetworkCookie& cookie, std::function<void()> done) = 0;
};

} // namespace pinlark
