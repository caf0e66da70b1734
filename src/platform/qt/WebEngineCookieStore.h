#pragma once

#include "platform/CookieStore.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

class QWebEngineCookieStore;

namespace pinlark {

// The cookie store of the shared web profile. WebEngine cannot list its cookies (what it loads
// from disk is never announced), so this keeps a mirror of every cookie it has seen, updated
// from the store's added and removed signals and persisted in a private file. At start the
// mirror is loaded, expired entries dropped, and every entry inserted back into WebEngine, so
// the web view and the app agree even when either side lost a cookie. A mirror that exists but
// cannot be opened or read is never written over; one that is not a list of cookies is kept
// aside under a new name (".corrupt-<UTC time>"). Every change of the mirror is announced
// (changes()), an expiry as the cookie expires.
//
// The web engine is the slowest part of the app to start, and only the library window needs it:
// until the engine's store is attached, the mirror alone answers, and what changes meanwhile
// reaches the engine when it comes.
class WebEngineCookieStore : public QObject, public CookieStore {
    Q_OBJECT
public:
    // The standard mirror file, attached to the shared web profile's store once that profile
    // exists.
    WebEngineCookieStore();
    // `store` may be null: the mirror alone, until attach().
    WebEngineCookieStore(QWebEngineCookieStore* store, QString mirrorPath);
    ~WebEngineCookieStore() override;

    // $XDG_CONFIG_HOME/<bundle identifier>.cookies.json, mode 0600.
    static QString standardMirrorPath();

    void getAllCookies(std::function<void(QList<QNetworkCookie>)> done) override;
    void setCookie(const QNetworkCookie& cookie, std::function<void()> done) override;
    void deleteCookie(const QNetworkCookie& cookie, std::function<void()> done) override;

    // Writes a pending change of the mirror now.
    void flush();
    // Joins the engine's store: the cookies deleted meanwhile go from it, the mirror's are put
    // back into it, and its changes are heard from then on.
    void attach(QWebEngineCookieStore* store);

private:
    void added(const QNetworkCookie& cookie);
    void removed(const QNetworkCookie& cookie);
    void dropExpired();
    // Times the next expiry of a cookie in the mirror.
    void armExpiry();
    void scheduleWrite();
    void load();

    QPointer<QWebEngineCookieStore> m_store;
    QString m_mirrorPath;
    bool m_dirty = false;
    bool m_unreadable = false;
    QList<QNetworkCookie> m_cookies;
    // Deleted before the engine's store was attached.
    QList<QNetworkCookie> m_deleted;
    QTimer m_expiry;
};

} // namespace pinlark
