#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace pinlark {

// The loopback exchange's decisions: which answer a complete request gets, and its bytes.
class HandBack {
public:
    // The session posted by the service's page.
    struct Session {
        QString token;
        QString cookieName;
        bool secure = true;
        bool operator==(const Session&) const = default;
    };

    struct Answer {
        int status = 0;
        // Compact JSON, or empty.
        QByteArray body;
        // The request's own Origin, echoed in the CORS lines; none: no CORS lines.
        std::optional<QString> corsOrigin;
        // Set only when the hand-back is accepted.
        std::optional<Session> session;
        bool operator==(const Answer&) const = default;
    };

    // The error code of a request whose Origin is missing or not the service's.
    static const char badOrigin[];

    // Routes one request: a pre-flight (OPTIONS) gets 204; any other method is refused unless
    // its Origin is `acceptedOrigin` exactly; then the body must be a JSON object with string
    // "token", "cookieName" and "state", and the state must equal `expectedState`.
    static Answer route(const QString& head, const QByteArray& body, const QString& expectedState,
                        const QString& acceptedOrigin);

    // The whole response: status line, CORS lines when `origin` is given, content type and
    // length, "connection: close", blank line, body.
    static QByteArray response(int status, const QByteArray& body,
                               const std::optional<QString>& origin);

    // The service origin as the Origin header carries it: slashes trimmed from both ends.
    static QString acceptedOrigin(const QString& origin);

    // Whether two texts are equal, in time that depends on their lengths only.
    static bool constantTimeEquals(const QByteArray& a, const QByteArray& b);
};

} // namespace pinlark
