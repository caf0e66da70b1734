#include "platform/fake/FakeServices.h"

#include <utility>

namespace pinlark {

void FakeCookieStore::getAllCookies(std::function<void(QList<QNetworkCookie>)> done) {
    const auto snapshot = cookies;
    done(snapshot);
    if (duplicateCompletions)
        done(snapshot);
}

void FakeCookieStore::setCookie(const QNetworkCookie& cookie, std::function<void()> done) {
    cookies.removeIf([&](const QNetworkCookie& c) { return c.hasSameIdentifier(cookie); });
    cookies.append(cookie);
    Q_EMIT changes().changed(cookie);
    done();
    if (duplicateCompletions)
        done();
}

void FakeCookieStore::deleteCookie(const QNetworkCookie& cookie, std::function<void()> done) {
    deleted.append(cookie);
    if (cookies.removeIf([&](const QNetworkCookie& c) { return c.hasSameIdentifier(cookie); }))
        Q_EMIT changes().changed(cookie);
    done();
    if (duplicateCompletions)
        done();
}

void FakeCookieStore::replace(const QList<QNetworkCookie>& list) {
    const QList<QNetworkCookie> before = std::exchange(cookies, list);
    for (const QNetworkCookie& cookie : before + list)
        Q_EMIT changes().changed(cookie);
}

} // namespace pinlark
