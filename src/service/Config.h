#pragma once

#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

namespace pinlark {

// One query item of an endpoint URL: a name and an optional value ("name" alone when none).
struct QueryItem {
    QString name;
    std::optional<QString> value;
};

// The service origin and the endpoint URLs formed from it.
class Config {
public:
    // The service's public web origin.
    static const QUrl& productionOrigin();

    // The origin of this process: the "origin" default when it parses as a URL whose scheme
    // begins with "http", exactly as written; the production origin otherwise. Read once, on
    // first use; later changes of the default take effect at the next launch.
    static const QUrl& origin();

    // The origin with `path` appended as a path component (inner slashes kept, one slash
    // between origin and path, characters a path may not hold percent-encoded) and, when
    // `query` is not empty, the query items in the order given.
    static QUrl api(const QString& path, const QList<QueryItem>& query = {});

private:
    friend class TestConfig;
    friend struct TestState;
    // Tests start each case from an unresolved origin.
    static void forgetOrigin();
    static QUrl resolveOrigin(const std::optional<QString>& override);
    static QUrl appending(const QUrl& base, const QString& path, const QList<QueryItem>& query);
};

} // namespace pinlark
