#include "service/API.h"

#include "service/APIError.h"
#include "service/Config.h"
#include "service/FeedResponse.h"
#include "service/SaveResponse.h"
#include "session/Session.h"

#include <QCoreApplication>
#include <QCoroNetworkReply>
#include <QDateTime>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>

#include <algorithm>

namespace pinlark {

namespace {

// Whether the exchange did not complete: no answer, or an answer cut short. HTTP statuses
// that Qt also reports as errors (404, 500 ...) are answers, not transport failures.
bool isTransportFailure(QNetworkReply* reply, const QByteArray& body) {
    const auto error = reply->error();
    if (!reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid() ||
        (error > QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied) ||
        error == QNetworkReply::ProtocolUnknownError || error == QNetworkReply::ProtocolFailure)
        return true;
    // A peer that closes early can leave Qt reporting a short body as complete.
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    return length.isValid() && !reply->hasRawHeader("Content-Encoding") &&
           body.size() != length.toLongLong();
}

// Retry-After in seconds or as an HTTP date, at most a day; none when absent or unreadable.
std::optional<std::chrono::seconds> retryAfter(const QNetworkReply* reply) {
    constexpr qint64 longest = 24 * 60 * 60;
    const QByteArray value = reply->rawHeader("Retry-After").trimmed();
    if (value.isEmpty() || value.size() > 64)
        return std::nullopt;
    bool number = false;
    qint64 seconds = value.toLongLong(&number);
    if (!number) {
        const QDateTime when = QDateTime::fromString(QString::fromLatin1(value), Qt::RFC2822Date);
        if (!when.isValid())
            return std::nullopt;
        seconds = QDateTime::currentDateTimeUtc().secsTo(when);
    }
    return std::chrono::seconds(std::clamp<qint64>(seconds, 0, longest));
}

} // namespace

QNetworkAccessManager& API::network() {
    // Lives as long as the application object, so its network thread ends before the process
    // tears down its globals.
    static QPointer<QNetworkAccessManager> manager;
    if (!manager)
        manager = new QNetworkAccessManager(QCoreApplication::instance());
    return *manager;
}

QCoro::Task<QByteArray> API::request(QUrl url, QByteArray method, std::optional<QJsonObject> body,
                                     CancelToken cancel, std::optional<QString> session) {
    const std::optional<QString> token = co_await Session::bearer();
    if (!token)
        throw APIError::unauthenticated();
    // Checked against the token that goes out: the store may have changed since the caller
    // last looked.
    if (session && Session::fingerprintOf(*token) != *session)
        throw APIError::otherSession();
    if (cancel.isCancelled())
        throw APIError::offline();

    QNetworkRequest request(url);
    request.setTransferTimeout(int(s_transferTimeout.count()));
    // The token goes to the service's origin only: a redirect elsewhere ends the exchange.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::SameOriginRedirectPolicy);
    request.setRawHeader("Authorization", "Bearer " + token->toUtf8());
    QNetworkReply* reply = nullptr;
    if (body) {
        request.setRawHeader("Content-Type", "application/json");
        reply = network().sendCustomRequest(request, method,
                                            QJsonDocument(*body).toJson(QJsonDocument::Compact));
    } else {
        reply = network().sendCustomRequest(request, method);
    }
    // An answer may not grow without end: once more than the cap has arrived, it is cut off.
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply] {
        if (reply->bytesAvailable() > maxAnswerBytes)
            reply->abort();
    });
    {
        // Abort, never delete, a reply in flight: only then does the await resume.
        const auto aborting = cancel.onCancel([reply] { reply->abort(); });
        co_await reply;
    }
    reply->deleteLater();

    const QByteArray bytes = reply->readAll();
    if (isTransportFailure(reply, bytes))
        throw APIError::offline();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status < 200 || status > 299)
        throw APIError::fromResponse(status, bytes, retryAfter(reply));
    co_return bytes;
}

QCoro::Task<SaveOutcome> API::save(QString url, CancelToken cancel,
                                   std::optional<QString> session) {
    // GCC 12 rejects QStringLiteral inside a co_await expression, so the URL is built first.
    const QUrl endpoint = Config::api(QStringLiteral("api/saves"));
    QJsonObject body{{QStringLiteral("url"), url}};
    const QByteArray bytes =
        co_await request(endpoint, "POST", std::move(body), cancel, std::move(session));
    const SaveResponse response = SaveResponse::decode(bytes);
    co_return SaveOutcome{response.id, response.existing.value_or(false)};
}

QCoro::Task<QList<SaveRow>> API::recent(int limit, CancelToken cancel) {
    const QUrl endpoint = Config::api(QStringLiteral("api/saves"),
                                      {{QStringLiteral("limit"), QString::number(limit)}});
    const QByteArray bytes = co_await request(endpoint, "GET", std::nullopt, cancel);
    co_return FeedResponse::decode(bytes).saves.value_or(QList<SaveRow>{});
}

QCoro::Task<SaveRow> API::get(QString id, CancelToken cancel) {
    const QUrl endpoint = Config::api(QStringLiteral("api/saves/") + id);
    const QByteArray bytes = co_await request(endpoint, "GET", std::nullopt, cancel);
    co_return SaveRow::decode(bytes);
}

} // namespace pinlark
