#pragma once

#include "platform/Async.h"
#include "service/SaveOutcome.h"
#include "service/SaveRow.h"

#include <QCoro/QCoroTask>

#include <memory>
#include <optional>

namespace pinlark {

// The three calls of the service API the quick-save model makes. Production forwards to API;
// tests give the model a scripted client.
class SavesClient {
public:
    virtual ~SavesClient() = default;
    // With `session`, only under the session of that fingerprint (API::save).
    virtual QCoro::Task<SaveOutcome> save(QString url, CancelToken cancel,
                                          std::optional<QString> session = std::nullopt) = 0;
    virtual QCoro::Task<QList<SaveRow>> recent(int limit, CancelToken cancel) = 0;
    virtual QCoro::Task<SaveRow> get(QString id, CancelToken cancel) = 0;

    // The client that talks to the service.
    static std::shared_ptr<SavesClient> service();
};

} // namespace pinlark
