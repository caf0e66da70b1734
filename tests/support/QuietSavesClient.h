#pragma once

#include "platform/Async.h"
#include "quicksave/SavesClient.h"
#include "service/APIError.h"
#include "session/Session.h"

#include <QStringList>

#include <functional>

namespace pinlark {

// A service the tests script. Unless told otherwise it lists no saves and accepts every save as
// "s1", of a state it doesn't know yet. Each call is written to `calls` ("save URL", "recent",
// "get ID"), and to `log` as well when one is given; a save refused for another session is not.
// While `hold` is set, a save waits until its task is cancelled, which fails it as "offline", as
// the real client does.
class QuietSavesClient : public SavesClient {
public:
    QCoro::Task<SaveOutcome> save(QString url, CancelToken cancel,
                                  std::optional<QString> session) override {
        // As the real client: under another session than the one asked for, nothing is sent.
        if (session) {
            const std::optional<QString> current = co_await Session::fingerprint();
            if (current != session)
                throw APIError::otherSession();
        }
        co_await record(QStringLiteral("save ") + url, hold, cancel);
        co_return onSave(url);
    }
    QCoro::Task<QList<SaveRow>> recent(int limit, CancelToken cancel) override {
        co_await record(QStringLiteral("recent"), false, cancel);
        co_return onRecent(limit);
    }
    QCoro::Task<SaveRow> get(QString id, CancelToken cancel) override {
        co_await record(QStringLiteral("get ") + id, false, cancel);
        co_return onGet(int(calls.count(QStringLiteral("get ") + id)));
    }

    std::function<SaveOutcome(const QString&)> onSave = [](const QString&) {
        return SaveOutcome{QStringLiteral("s1"), false};
    };
    std::function<QList<SaveRow>(int limit)> onRecent = [](int) { return QList<SaveRow>{}; };
    std::function<SaveRow(int poll)> onGet = [](int) { return SaveRow{}; }; // polls count from 1
    bool hold = false;

    QStringList calls;
    QStringList* log = nullptr;

private:
    QCoro::Task<> record(QString call, bool held, CancelToken cancel) {
        calls.append(call);
        if (log)
            log->append(call);
        if (!held)
            co_return;
        Completion<> done;
        auto subscription = cancel.onCancel([done]() mutable { done(); });
        co_await done;
        throw APIError(QStringLiteral("offline"), QString());
    }
};

} // namespace pinlark
