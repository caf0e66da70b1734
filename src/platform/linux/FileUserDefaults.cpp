#include "platform/linux/FileUserDefaults.h"

#include "Product.h"
#include "platform/Log.h"
#include "platform/qt/AtomicFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLockFile>
#include <QStandardPaths>

namespace pinlark {

namespace {

std::optional<UserDefaults::Value> fromJson(const QJsonValue& v) {
    switch (v.type()) {
    case QJsonValue::String:
        return UserDefaults::Value(v.toString());
    case QJsonValue::Bool:
        return UserDefaults::Value(v.toBool());
    case QJsonValue::Double: {
        const double d = v.toDouble();
        if (d == double(qint64(d)))
            return UserDefaults::Value(qint64(d));
        return std::nullopt;
    }
    case QJsonValue::Object: {
        const QJsonValue data = v.toObject().value(QLatin1String("data"));
        if (data.isString())
            return UserDefaults::Value(QByteArray::fromBase64(data.toString().toLatin1()));
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

QJsonValue toJson(const UserDefaults::Value& v) {
    return std::visit(
        [](const auto& x) -> QJsonValue {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, QByteArray>)
                return QJsonObject{{QLatin1String("data"), QString::fromLatin1(x.toBase64())}};
            else
                return QJsonValue(x);
        },
        v);
}

// Holds the lock file of the defaults while it lives. Waits up to ten seconds for another
// writer; a lock left behind by a process that died is taken over.
class WriteLock {
public:
    explicit WriteLock(const QString& path)
        : m_lock(path + QLatin1String(".lock")) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        m_lock.setStaleLockTime(10000);
        m_locked = m_lock.tryLock(10000);
    }
    bool locked() const { return m_locked; }

private:
    QLockFile m_lock;
    bool m_locked = false;
};

} // namespace

FileUserDefaults::FileUserDefaults(QString path)
    : m_path(std::move(path)) {}

QString FileUserDefaults::standardPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1Char('/') + QLatin1String(Product::bundleIdentifier) + QLatin1String(".json");
}

QJsonObject FileUserDefaults::load() const {
    QFile file(m_path);
    if (!file.exists())
        return {};
    QJsonParseError error{};
    QJsonDocument doc;
    QString problem;
    if (!file.open(QIODevice::ReadOnly)) {
        problem = file.errorString();
    } else {
        doc = QJsonDocument::fromJson(file.readAll(), &error);
        file.close();
        if (error.error != QJsonParseError::NoError)
            problem = error.errorString();
        else if (!doc.isObject())
            problem = QStringLiteral("not a JSON object");
    }
    if (problem.isEmpty())
        return doc.object();

    // Keep the unreadable file for inspection instead of deleting it, and start empty.
    const QString aside =
        m_path + QLatin1String(".corrupt-") +
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddTHHmmsszzz"));
    if (QFile::rename(m_path, aside))
        logLine(QStringLiteral("[Pinlark] preferences file %1 could not be read (%2); kept it as "
                               "%3 and started with empty preferences")
                    .arg(m_path, problem, aside));
    else
        logLine(QStringLiteral("[Pinlark] preferences file %1 could not be read (%2); using "
                               "empty preferences")
                    .arg(m_path, problem));
    return {};
}

std::optional<UserDefaults::Value> FileUserDefaults::value(const QString& key) const {
    const QJsonObject object = load();
    const auto it = object.constFind(key);
    if (it == object.constEnd())
        return std::nullopt;
    return fromJson(*it);
}

void FileUserDefaults::setValue(const QString& key, std::optional<Value> value) {
    WriteLock lock(m_path);
    if (!lock.locked())
        logLine(QStringLiteral("[Pinlark] preferences file %1 is locked by another process; "
                               "writing anyway")
                    .arg(m_path));
    QJsonObject object = load();
    if (value)
        object.insert(key, toJson(*value));
    else
        object.remove(key);
    const QString error =
        writeFileAtomically(m_path, QJsonDocument(object).toJson(QJsonDocument::Indented));
    if (!error.isEmpty())
        logLine(
            QStringLiteral("[Pinlark] could not write preferences file %1: %2").arg(m_path, error));
}

} // namespace pinlark
