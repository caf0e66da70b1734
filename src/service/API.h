#pragma once

#include "platform/Async.h"
#include "service/SaveOutcome.h"
#include "service/SaveRow.h"

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>

class QNetworkAccessManager;

namespace pinlark {

// The client of the service's JSON API. Every call is one HTTP exchange carrying the session
// as a bearer token. Failures are thrown: APIError for everything the client detects itself
// ("unauthenticated" without a session, "offline" when the exchange does not complete, is
// redirected away from the service's origin or brings an answer over the size cap, the
// service's code otherwise), DecodingError for a success body of the wrong shape. Cancelling
// `cancel` aborts the exchange, which fails as "offline". Main thread only; several calls may
// be in flight at once.
class API {
public:
    // POST api/saves {"url": url}. With `session`, only under the session of that fingerprint
    // (Session::fingerprint): under any other the call fails with APIError::otherSession() and
    // sends nothing.
    static QCoro::Task<SaveOutcome> save(QString url, CancelToken cancel = {},
                                         std::optional<QString> session = std::nullopt);
    // GET api/saves?limit=N: the feed's rows in the order received.
    static QCoro::Task<QList<SaveRow>> recent(int limit, CancelToken cancel = {});
    // GET api/saves/<id>, the id exactly as given.
    static QCoro::Task<SaveRow> get(QString id, CancelToken cancel = {});

private:
    friend struct TestState;
    friend class TestAPI;

    // Gives the body of a 2xx answer.
    static QCoro::Task<QByteArray> request(QUrl url, QByteArray method,
                                           std::optional<QJsonObject> body, CancelToken cancel,
                                           std::optional<QString> session = std::nullopt);
    // The one manager of the process, made on first use on the main thread and kept until the
    // application object goes, so connections are reused.
    static QNetworkAccessManager& network();

    // The most an answer may hold; a longer one fails as "offline".
    static constexpr qint64 maxAnswerBytes = 4 * 1024 * 1024;
    static constexpr std::chrono::milliseconds defaultTransferTimeout{15000};
    // How long an exchange may go without any byte moving; tests shorten it.
    static inline std::chrono::milliseconds s_transferTimeout = defaultTransferTimeout;
};

} // namespace pinlark
