#include "service/APIError.h"

#include "platform/Printable.h"
#include "service/DecodingError.h"
#include "service/ErrorBody.h"

namespace pinlark {

APIError APIError::unauthenticated() {
    return {QStringLiteral("unauthenticated"), QStringLiteral("Sign in to save.")};
}

APIError APIError::offline() {
    return {QStringLiteral("offline"),
            QStringLiteral("Can't reach Pinlark. Check your connection.")};
}

APIError APIError::otherSession() {
    return {QStringLiteral("other_session"), QStringLiteral("Another account is signed in now.")};
}

namespace {

// The most of a service's message that reaches the user; a longer one ends in an ellipsis.
constexpr qsizetype maxMessageLength = 500;

QString shortened(QString message) {
    if (message.size() <= maxMessageLength)
        return message;
    qsizetype end = maxMessageLength - 1;
    if (message.at(end - 1).isHighSurrogate())
        --end;
    message.truncate(end);
    return message + QChar(0x2026);
}

} // namespace

APIError APIError::fromResponse(int status, const QByteArray& body,
                                std::optional<std::chrono::seconds> retryAfter) {
    ErrorBody decoded;
    try {
        decoded = ErrorBody::decode(body);
    } catch (const DecodingError&) {
        // Empty, HTML or any other body: the status alone.
    }
    APIError error(decoded.error.value_or(QStringLiteral("http_%1").arg(status)),
                   shortened(printable(decoded.message.value_or(
                       QStringLiteral("Something went wrong. Try again.")))),
                   status);
    error.m_serviceBody = decoded.error.has_value();
    error.m_retryAfter = retryAfter;
    return error;
}

} // namespace pinlark
