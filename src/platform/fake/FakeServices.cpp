#include "platform/fake/FakeServices.h"

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
    done();
    if (duplicateCompletions)
        done();
}

void FakeCookieStore::deleteCookie(const QNetworkCookie& cookie, std::function<void()> done) {
    deleted.append(cookie);
    cookies.removeIf([&](const QNetworkCookie& c) { return c.hasSameIdentifier(cookie); });
    done();
    if (duplicateCompletions)
        done();
}

} // namespace pinlark
