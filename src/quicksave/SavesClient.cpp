#include "quicksave/SavesClient.h"

#include "service/API.h"

namespace pinlark {

namespace {
class ServiceClient : public SavesClient {
public:
    QCoro::Task<SaveOutcome> save(QString url, CancelToken cancel,
                                  std::optional<QString> session) override {
        return API::save(std::move(url), std::move(cancel), std::move(session));
    }
    QCoro::Task<QList<SaveRow>> recent(int limit, CancelToken cancel) override {
        return API::recent(limit, std::move(cancel));
    }
    QCoro::Task<SaveRow> get(QString id, CancelToken cancel) override {
        return API::get(std::move(id), std::move(cancel));
    }
};
} // namespace

std::shared_ptr<SavesClient> SavesClient::service() {
    static const auto client = std::make_shared<ServiceClient>();
    return client;
}

} // namespace pinlark
