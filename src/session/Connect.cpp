#include "session/Connect.h"

#include "library/Dashboard.h"
#include "platform/Async.h"
#include "platform/Platform.h"
#include "service/Config.h"

#include <algorithm>
#include <chrono>

namespace pinlark {

namespace {
constexpr auto cookieLifetime = std::chrono::seconds(2592000);

bool isControlOrSpace(char16_t c) { return c <= 0x20 || c == 0x7f; }

// A cookie name: not empty; no control characters, white space, ";", ",", '"'
// or "=".
bool isCookieName(const QString &name) {
  return !name.isEmpty() && std::none_of(name.begin(), name.end(), [](QChar c) {
    return isControlOrSpace(c.unicode()) || QStringView(u";,\"=").contains(c);
  });
}

// A cookie value: no control characters, white space, ";", ",", or '"' except
// one pair around the whole value.
bool isCookieValue(QStringView value) {
  if (value.size() >= 2 && value.front() == u'"' && value.back() == u'"')
    value = value.sliced(1, value.size() - 2);
  return std::none_of(value.begin(), value.end(), [](QChar c) {
    return isControlOrSpace(c.unicode()) || QStringView(u";,\"").contains(c);
  });
}
} // namespace

void Connect::alert(const QString &message, const QString &informativeText) {
  Platform::alerts().run(
      Alert{message, informativeText, {QStringLiteral("OK")}});
}

std::optional<QNetworkCookie>
Connect::sessionCookie(const QString &token, const QString &cookieName,
                       bool secure, const QString &host, const QDateTime &now) {
  if (!isCookieName(cookieName) || !isCookieValue(token))
    return std::nullopt;
  QString domain = host;
  if (host.contains(u'.') && !host.startsWith(QLatin1String("localhost")))
    domain =
        u'.' + (host.startsWith(QLatin1String("www.")) ? host.mid(4) : host);
  QNetworkCookie cookie(cookieName.toUtf8(), token.toUtf8());
  cookie.setDomain(domain);
  cookie.setPath(QStringLiteral("/"));
  cookie.setExpirationDate(now.addSecs(cookieLifetime.count()));
  cookie.setSecure(secure);
  cookie.setHttpOnly(true);
  return cookie;
}

QCoro::Task<> Connect::adopt(QString token, QString cookieName, bool secure) {
  const QString host = Config::origin().host();
  if (host.isEmpty())
    co_return;
  const auto cookie = sessionCookie(token, cookieName, secure, host,
                                    QDateTime::currentDateTimeUtc());
  if (!cookie) {
    alert(QStringLiteral("Couldn't save the sign-in"),
          QStringLiteral("The session couldn't be stored. Try again."));
    co_return;
  }
  co_await insert(*cookie);
  Dashboard &dashboard = Dashboard::shared();
  dashboard.load(Dashboard::homeURL());
  dashboard.show();
}

QCoro::Task<> Connect::insert(QNetworkCookie cookie) {
  Completion<> done;
  Platform::cookieStore().setCookie(cookie, [done]() mutable { done(); });
  co_await done;
}

} // namespace pinlark
