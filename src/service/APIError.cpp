#include "service/APIError.h"

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

APIError APIError::fromResponse(int status, const QByteArray& body) {
    ErrorBody decoded;
    try {
        decoded = ErrorBody::decode(body);
    } catch (const DecodingError&) {
        // Empty, HTML or any other body: the status alone.
    }
    return {decoded.error.value_or(QStringLiteral("http_%1").arg(status)),
            decoded.message.value_or(QStringLiteral("Something went wrong. Try again."))};
}

} // namespace pinlark
