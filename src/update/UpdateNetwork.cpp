#include "update/UpdateNetwork.h"

#include "platform/Error.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QPointer>

namespace pinlark {

QNetworkAccessManager& updateNetwork() {
    static QPointer<QNetworkAccessManager> manager;
    if (!manager)
        manager = new QNetworkAccessManager(QCoreApplication::instance());
    return *manager;
}

bool isTransportFailure(const QNetworkReply& reply) {
    const auto error = reply.error();
    return !reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid() ||
           (error > QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied) ||
           error == QNetworkReply::ProtocolUnknownError || error == QNetworkReply::ProtocolFailure;
}

void throwTransportError(const QNetworkReply& reply, bool timedOut) {
    if (timedOut || reply.error() == QNetworkReply::TimeoutError)
        throw PlatformError(QStringLiteral("The request timed out."));
    throw PlatformError(reply.errorString());
}

} // namespace pinlark
