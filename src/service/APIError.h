#pragma once

#include "platform/Error.h"

#include <chrono>
#include <optional>

namespace pinlark {

// Every failure the service client detects itself: a machine-readable code ("unauthenticated",
// "offline", the service's own "error", or "http_" and the status) and a message that callers
// show unchanged, and the HTTP status of the service's answer (0 when the client made it up).
// Whether the body was the service's own error body (JSON with a code) tells the service's
// words from anything a proxy or portal on the way says with the same status.
class APIError : public Error {
public:
    APIError(QString code, QString message, int status = 0)
        : m_code(std::move(code))
        , m_message(std::move(message))
        , m_status(status) {}

    static APIError unauthenticated();
    static APIError offline();
    // The session in the cookie store is not the one the request was to go under: nothing was
    // sent.
    static APIError otherSession();
    // The error for a non-success `status` whose body is `body` (an error body or anything else).
    // A message of more than a few hundred characters is cut short.
    static APIError fromResponse(int status, const QByteArray& body,
                                 std::optional<std::chrono::seconds> retryAfter = std::nullopt);

    const QString& code() const { return m_code; }
    const QString& message() const { return m_message; }
    int status() const { return m_status; }
    // The body was an error body with a code.
    bool isServiceBody() const { return m_serviceBody; }
    // How long the answer asked the client to wait before it asks again.
    std::optional<std::chrono::seconds> retryAfter() const { return m_retryAfter; }
    QString localizedDescription() const override { return m_message; }

private:
    QString m_code;
    QString m_message;
    int m_status = 0;
    bool m_serviceBody = false;
    std::optional<std::chrono::seconds> m_retryAfter;
};

} // namespace pinlark
