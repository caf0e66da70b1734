#pragma once

#include <QList>
#include <QNetworkCookie>
#include <QObject>

#include <functional>

namespace pinlark {

// Announces each cookie the store gains, loses or has replaced, whoever changed it: the app, a
// page in the web view (its own sign-in and sign-out), or time (an expired cookie is removed).
class CookieChanges : public QObject {
    Q_OBJECT
Q_SIGNALS:
    void changed(const QNetworkCookie& cookie);
};

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

    // Main thread; a change is announced once the store's list holds it.
    CookieChanges& changes() { return m_changes; }

private:
    CookieChanges m_changes;
};

} // namespace pinlark
