#include "Store.h"

#include "LinkFacts.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <type_traits>

namespace pinlark::devservice {

namespace {

const char* const fileName = "pinlark-devservice.sqlite";
// PRAGMA user_version of the tables below; a database of a higher one is left alone.
constexpr int schemaVersion = 1;
const char* const schema[] = {
    "CREATE TABLE accounts (key TEXT PRIMARY KEY, email TEXT NOT NULL)",
    // Sessions are found by the SHA-256 of their token: the file never holds a token.
    "CREATE TABLE sessions (token_sha256 TEXT PRIMARY KEY,"
    " account TEXT NOT NULL REFERENCES accounts (key), made INTEGER NOT NULL)",
    // Times in ms since the epoch. `due`: when the save settles unless reads settle it first.
    "CREATE TABLE saves (number INTEGER PRIMARY KEY, id TEXT NOT NULL UNIQUE,"
    " account TEXT NOT NULL REFERENCES accounts (key), link TEXT NOT NULL, status TEXT NOT NULL,"
    " reads INTEGER NOT NULL, saved INTEGER NOT NULL, due INTEGER NOT NULL,"
    " UNIQUE (account, link))",
    "CREATE INDEX pending_saves ON saves (due) WHERE status IN ('queued', 'processing')",
};

qint64 now() {
    return QDateTime::currentMSecsSinceEpoch();
}

QString line(const QString& text) {
    return QStringLiteral("pinlark-devservice: ") + text;
}

// SQLite's own words, without Qt's.
std::string reason(const QSqlError& error) {
    return (error.databaseText().isEmpty() ? error.text() : error.databaseText()).toStdString();
}

QSqlQuery exec(const QString& connection, const char* sql, const QVariantList& values = {}) {
    QSqlQuery query(QSqlDatabase::database(connection, false));
    query.setForwardOnly(true);
    if (!query.prepare(QLatin1String(sql)))
        throw StoreError(reason(query.lastError()));
    for (const QVariant& value : values)
        query.addBindValue(value);
    if (!query.exec())
        throw StoreError(reason(query.lastError()));
    return query;
}

// Runs `work` in a write transaction, committed when it returns and rolled back when it throws.
template <typename Work> auto transaction(const QString& connection, Work work) {
    exec(connection, "BEGIN IMMEDIATE");
    try {
        auto result = work();
        exec(connection, "COMMIT");
        return result;
    } catch (const StoreError&) {
        QSqlQuery(QSqlDatabase::database(connection, false)).exec(QStringLiteral("ROLLBACK"));
        throw;
    }
}

bool pending(const QString& status) {
    return status == QLatin1String("queued") || status == QLatin1String("processing");
}

QString settledStatus(const QString& link) {
    return LinkFacts::of(link).error ? QStringLiteral("error") : QStringLiteral("done");
}

QString sessionKey(const QString& token) {
    return QString::fromLatin1(
        QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256).toHex());
}

QJsonObject rowOf(const QString& id, const QString& link, const QString& status) {
    QJsonObject row{{QStringLiteral("id"), id},
                    {QStringLiteral("url"), link},
                    {QStringLiteral("status"), status}};
    if (pending(status))
        return row;
    const LinkFacts facts = LinkFacts::of(link);
    if (facts.error) {
        row.insert(QStringLiteral("error"), *facts.error);
        return row;
    }
    row.insert(QStringLiteral("title"), facts.title);
    row.insert(QStringLiteral("synopsis"), facts.synopsis);
    row.insert(QStringLiteral("platform"), facts.platform);
    row.insert(QStringLiteral("tags"), QJsonArray::fromStringList(facts.tags));
    return row;
}

} // namespace

QString randomToken(int bytes) {
    QByteArray buffer(bytes, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(buffer.data()),
                                          bytes / int(sizeof(quint32)));
    return QString::fromLatin1(
        buffer.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

Store::Store(Settling settling)
    : m_settling(settling)
    , m_connection(QStringLiteral("store"))
    , m_thread([this] { serve(); }) {}

Store::~Store() {
    {
        std::lock_guard lock(m_jobsMutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

template <typename Work> auto Store::call(Work work) {
    std::packaged_task<std::invoke_result_t<Work>()> task(std::move(work));
    auto answer = task.get_future();
    {
        std::lock_guard lock(m_jobsMutex);
        m_jobs.emplace_back([&task] { task(); });
    }
    m_wake.notify_one();
    return answer.get();
}

void Store::serve() {
    qint64 due = -1; // none
    const auto file = [&] {
        if (!m_open)
            return;
        try {
            due = fileDue().value_or(-1);
        } catch (const StoreError& e) {
            std::fprintf(stderr, "pinlark-devservice: can't file saves: %s\n", e.what());
            due = -1;
        }
    };
    for (;;) {
        std::deque<std::function<void()>> jobs;
        {
            std::unique_lock lock(m_jobsMutex);
            const auto ready = [this] { return m_stopping || !m_jobs.empty(); };
            if (due >= 0)
                m_wake.wait_until(
                    lock, std::chrono::system_clock::time_point(std::chrono::milliseconds(due)),
                    ready);
            else
                m_wake.wait(lock, ready);
            if (m_stopping && m_jobs.empty())
                break;
            jobs.swap(m_jobs);
        }
        // What is due is filed before anyone is answered; the next due time is taken anew when
        // there are new saves.
        if (due >= 0 && now() >= due)
            file();
        for (const auto& job : jobs)
            job();
        if (std::exchange(m_newSaves, false))
            file();
    }
    QSqlDatabase::database(m_connection, false).close();
    QSqlDatabase::removeDatabase(m_connection);
}

std::optional<QString> Store::open(const QString& dataFolder) {
    return call([&] { return openOnThread(dataFolder); });
}

std::optional<QString> Store::openOnThread(const QString& dataFolder) {
    QString path = QStringLiteral(":memory:");
    QString named = QStringLiteral("the database in memory");
    if (!dataFolder.isEmpty()) {
        const QDir folder(dataFolder);
        if (!folder.exists()) {
            if (!QDir().mkpath(dataFolder))
                return line(QStringLiteral("can't make the data folder %1").arg(dataFolder));
            QFile::setPermissions(dataFolder,
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        const QByteArray encoded = QFile::encodeName(folder.absolutePath());
        if (::access(encoded.constData(), W_OK) != 0)
            return line(QStringLiteral("the data folder %1 is not writable (%2)")
                            .arg(folder.absolutePath(), QString::fromLocal8Bit(strerror(errno))));
        path = named = folder.absoluteFilePath(QLatin1String(fileName));
        // Only its owner reads the file (SQLite gives its journal files the same mode).
        const int fd = ::open(QFile::encodeName(path).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0)
            ::close(fd);
        else if (errno != EEXIST)
            return line(QStringLiteral("can't make %1 (%2)")
                            .arg(path, QString::fromLocal8Bit(strerror(errno))));
    }

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open())
        return line(QStringLiteral("can't open %1 (%2)")
                        .arg(named, QString::fromStdString(reason(db.lastError()))));

    // Read first: nothing is written to a file that turns out not to be ours.
    int version = 0;
    int objects = 0;
    try {
        QSqlQuery query = exec(m_connection, "PRAGMA user_version");
        version = query.next() ? query.value(0).toInt() : 0;
        query = exec(m_connection, "SELECT count(*) FROM sqlite_master");
        objects = query.next() ? query.value(0).toInt() : 0;
    } catch (const StoreError& e) {
        return line(QStringLiteral("can't read %1 as an SQLite database (%2); it is left as it is")
                        .arg(named, QString::fromStdString(e.what())));
    }
    if (version > schemaVersion)
        return line(QStringLiteral("%1 comes from a newer pinlark-devservice (schema %2, this one "
                                   "knows %3); it is left as it is")
                        .arg(named)
                        .arg(version)
                        .arg(schemaVersion));
    if (version == 0 && objects > 0)
        return line(
            QStringLiteral("%1 holds another program's database; it is left as it is").arg(named));

    try {
        exec(m_connection, "PRAGMA journal_mode = WAL");
        // A write transaction, also when there is nothing to make: a file it may read but not
        // write is found now, not at the first save.
        transaction(m_connection, [&] {
            if (version == 0) {
                for (const char* statement : schema)
                    exec(m_connection, statement);
            }
            exec(m_connection, "PRAGMA user_version = 1");
            return true;
        });
    } catch (const StoreError& e) {
        return line(
            QStringLiteral("can't write to %1 (%2)").arg(named, QString::fromStdString(e.what())));
    }
    m_open = true;
    m_newSaves = true; // those of an earlier run
    return std::nullopt;
}

std::optional<qint64> Store::fileDue() {
    QList<std::pair<QString, QString>> due; // id, link
    QSqlQuery query = exec(m_connection,
                           "SELECT id, link FROM saves"
                           " WHERE status IN ('queued', 'processing') AND due <= ?",
                           {now()});
    while (query.next())
        due.append({query.value(0).toString(), query.value(1).toString()});
    if (!due.isEmpty()) {
        transaction(m_connection, [&] {
            for (const auto& [id, link] : std::as_const(due))
                exec(m_connection, "UPDATE saves SET status = ? WHERE id = ?",
                     {settledStatus(link), id});
            return true;
        });
    }
    query =
        exec(m_connection, "SELECT min(due) FROM saves WHERE status IN ('queued', 'processing')");
    if (query.next() && !query.isNull(0))
        return query.value(0).toLongLong();
    return std::nullopt;
}

QString Store::signIn(const QString& email) {
    const QString token = randomToken(32);
    call([&] {
        return transaction(m_connection, [&] {
            exec(m_connection, "INSERT OR IGNORE INTO accounts (key, email) VALUES (?, ?)",
                 {email.toLower(), email});
            exec(m_connection,
                 "INSERT INTO sessions (token_sha256, account, made) VALUES (?, ?, ?)",
                 {sessionKey(token), email.toLower(), now()});
            return true;
        });
    });
    return token;
}

std::optional<QString> Store::accountOf(const QString& token) {
    return call([&]() -> std::optional<QString> {
        QSqlQuery query = exec(m_connection,
                               "SELECT accounts.email FROM sessions JOIN accounts"
                               " ON accounts.key = sessions.account WHERE token_sha256 = ?",
                               {sessionKey(token)});
        if (query.next())
            return query.value(0).toString();
        return std::nullopt;
    });
}

Store::Saved Store::save(const QString& account, const QString& link) {
    const QString id = randomToken(12);
    const int delay = m_settling.afterMs.value_or(QRandomGenerator::global()->bounded(1000, 2001));
    return call([&] {
        return transaction(m_connection, [&] {
            QSqlQuery query =
                exec(m_connection, "SELECT id FROM saves WHERE account = ? AND link = ?",
                     {account.toLower(), link});
            if (query.next())
                return Saved{query.value(0).toString(), true};
            const qint64 saved = now();
            exec(m_connection,
                 "INSERT INTO saves (id, account, link, status, reads, saved, due)"
                 " VALUES (?, ?, ?, 'queued', 0, ?, ?)",
                 {id, account.toLower(), link, saved, saved + delay});
            m_newSaves = true;
            return Saved{id, false};
        });
    });
}

std::optional<QJsonObject> Store::read(const QString& account, const QString& id) {
    return call([&] {
        return transaction(m_connection, [&]() -> std::optional<QJsonObject> {
            QSqlQuery query = exec(m_connection,
                                   "SELECT link, status, reads FROM saves"
                                   " WHERE id = ? AND account = ?",
                                   {id, account.toLower()});
            if (!query.next())
                return std::nullopt;
            const QString link = query.value(0).toString();
            QString status = query.value(1).toString();
            if (pending(status)) {
                const int reads = query.value(2).toInt() + 1;
                if (reads > m_settling.reads)
                    status = settledStatus(link);
                else if (reads >= 2)
                    status = QStringLiteral("processing");
                exec(m_connection, "UPDATE saves SET reads = ?, status = ? WHERE id = ?",
                     {reads, status, id});
            }
            return rowOf(id, link, status);
        });
    });
}

QJsonArray Store::recent(const QString& account, int limit) {
    return call([&] {
        QSqlQuery query = exec(m_connection,
                               "SELECT id, link, status FROM saves WHERE account = ?"
                               " ORDER BY number DESC LIMIT ?",
                               {account.toLower(), limit});
        QJsonArray rows;
        while (query.next())
            rows.append(rowOf(query.value(0).toString(), query.value(1).toString(),
                              query.value(2).toString()));
        return rows;
    });
}

} // namespace pinlark::devservice
