#pragma once

#include <QJsonArray>
#include <QProcess>
#include <QStringList>
#include <QUrl>

namespace pinlark {

// Runs the stand-in web service (pinlark-devservice) on a free loopback port for one test, in
// memory. Its saves settle as they are read, not a second or two after saving, unless the test
// passes "--settle-after-ms".
class DevService {
public:
    explicit DevService(QStringList extraArguments = {});
    ~DevService();

    bool isRunning() const { return m_origin.isValid(); }
    QUrl origin() const { return m_origin; }
    QUrl url(const QString& path) const;

    // Signs `email` in through the sign-in form and gives the session token.
    QString signIn(const QString& email = QStringLiteral("test@example.test"));
    // Every request the service received so far, oldest first, as the service records them:
    // {"method", "path", "query", "headers": {lower-cased name: value}, "body"}.
    QJsonArray requests();
    // Forgets the recorded requests.
    void clearRequests();

private:
    QProcess m_process;
    QUrl m_origin;
};

} // namespace pinlark
