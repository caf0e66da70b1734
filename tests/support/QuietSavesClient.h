#pragma once

#include "quicksave/SavesClient.h"
#include "service/APIError.h"

#include <QStringList>

namespace pinlark {

// A service for the panel's tests: it lists no saves (or answers as signed out), accepts every
// save as "s1", and writes each call to `log` when one is given ("save URL", "recent").
class QuietSavesClient : public SavesClient {
public:
    QCoro::Task<SaveOutcome> save(QString url, CancelToken) override {
        record(QStringLiteral("save ") + url);
        co_return SaveOutcome{QStringLiteral("s1"), false};
    }
    QCoro::Task<QList<SaveRow>> recent(int, CancelToken) override {
        record(QStringLiteral("recent"));
        if (signedOut)
            throw APIError(QStringLiteral("unauthenticated"), QStringLiteral("Sign in to save."));
        co_return QList<SaveRow>{};
    }
    QCoro::Task<SaveRow> get(QString, CancelToken) override { co_return SaveRow{}; }

    QStringList* log = nullptr;
    bool signedOut = false;

private:
    void record(const QString& call) {
        if (log)
            log->append(call);
    }
};

} // namespace pinlark
