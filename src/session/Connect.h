#pragma once

#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QNetworkCookie>
#include <QString>

#include <optional>

namespace pinlark {

// The browser sign-in.
class Connect {
public:
  // Makes the posted session the service's session cookie in the shared store,
  // then shows the saves in the library window.
  static QCoro::Task<> adopt(QString token, QString cookieName, bool secure);

private:
  friend class TestConnect;

  static void alert(const QString &message, const QString &informativeText);

  // The session cookie for `host`, or none when the name or value is not one a
  // cookie may carry.
  static std::optional<QNetworkCookie>
  sessionCookie(const QString &token, const QString &cookieName, bool secure,
                const QString &host, const QDateTime &now);
  static QCoro::Task<> insert(QNetworkCookie cookie);
};

} // namespace pinlark
