#pragma once

#include "platform/CookieStore.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

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
    // The engine's own store, as the mirror reaches it once the engine has started.
    class Engine {
    public:
        virtual ~Engine() = default;
        virtual void setCookie(const QNetworkCookie& cookie, const QUrl& origin) = 0;
        virtual void deleteCookie(const QNetworkCookie& cookie, const QUrl& origin) = 0;
    };

    // The standard mirror file, which joins the shared web profile's store once the engine has
    // started (engineStarted).
    WebEngineCookieStore();
    // The mirror alone, until attach().
    explicit WebEngineCookieStore(QString mirrorPath);
    ~WebEngineCookieStore() override;

    // $XDG_CONFIG_HOME/<bundle identifier>.cookies.json, mode 0600.
    static QString standardMirrorPath();
    // Told by what makes the shared web profile, with what reaches its store: the store on the
    // standard mirror joins it, and so does any made later.
    using Join = std::function<std::unique_ptr<Engine>(WebEngineCookieStore& mirror)>;
    static void engineStarted(Join join);

    void getAllCookies(std::function<void(QList<QNetworkCookie>)> done) override;
    void setCookie(const QNetworkCookie& cookie, std::function<void()> done) override;
    void deleteCookie(const QNetworkCookie& cookie, std::function<void()> done) override;

    // Writes a pending change of the mirror now.
    void flush();
    // Joins the engine's store: the cookies deleted meanwhile go from it and the mirror's are put
    // back into it. From then on the engine's own changes come in through added() and removed().
    void attach(std::unique_ptr<Engine> engine);
    void added(const QNetworkCookie& cookie);
    void removed(const QNetworkCookie& cookie);

private:
    void dropExpired();
    // Times the next expiry of a cookie in the mirror.
    void armExpiry();
    void scheduleWrite();
    void load();

    std::unique_ptr<Engine> m_engine;
    QString m_mirrorPath;
    bool m_dirty = false;
    bool m_unreadable = false;
    QList<QNetworkCookie> m_cookies;
    // Deleted before the engine's store was attached.
    QList<QNetworkCookie> m_deleted;
    QTimer m_expiry;
};

} // namespace pinlark
