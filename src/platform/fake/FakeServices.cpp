#include "platform/fake/FakeServices.h"

namespace pinlark {

namespace {
bool sameCookie(const QNetworkCookie& a, const QNetworkCookie& b) {
    return a.name() == b.name() && a.domain() == b.domain() && a.path() == b.path();
}
} // namespace

void FakeCookieStore::getAllCookies(std::function<void(QList<QNetworkCookie>)> done) {
    const auto snapshot = cookies;
    done(snapshot);
    if (duplicateCompletions)
        done(snapshot);
}

void FakeCookieStore::setCookie(const QNetworkCookie& cookie, std::function<void()> done) {
    cookies.removeIf([&](const QNetworkCookie& c) { return sameCookie(c, cookie); });
    cookies.append(cookie);
    done();
    if (duplicateCompletions)
        done();
}

void FakeCookieStore::deleteCookie(const QNetworkCookie& cookie, std::function<void()> done) {
    deleted.append(cookie);
    cookies.removeIf([&](const QNetworkCookie& c) { return sameCookie(c, cookie); });
    done();
    if (duplicateCompletions)
        done();
}

} // namespace pinlark
