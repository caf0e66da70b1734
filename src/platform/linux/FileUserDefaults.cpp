#include "platform/linux/FileUserDefaults.h"

#include "Product.h"
#include "platform/AtomicFile.h"
#include "platform/FileLock.h"
#include "platform/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QStandardPaths>

#include <cerrno>
#include <cstdio>

namespace pinlark {

namespace {

std::optional<UserDefaults::Value> fromJson(const QJsonValue& v) {
    switch (v.type()) {
    case QJsonValue::String:
        return UserDefaults::Value(v.toString());
    case QJsonValue::Bool:
        return UserDefaults::Value(v.toBool());
    case QJsonValue::Double: {
        // Exact for every qint64 written as an integer; 0 for fractions and out-of-range values.
        const qint64 i = v.toInteger();
        if (i == 0 && v.toDouble() != 0)
            return std::nullopt;
        return UserDefaults::Value(i);
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

QString lastError() {
    return qt_error_string(errno);
}

} // namespace

struct FileUserDefaults::Contents {
    enum Kind { Object, Missing, Unreadable, Corrupt } kind;
    QJsonObject object;
    QString problem;
};

FileUserDefaults::FileUserDefaults(QString path, bool readOnly)
    : m_path(std::move(path))
    , m_readOnly(readOnly) {
    if (!readOnly)
        removeDeadWritersFiles(m_path);
}

QString FileUserDefaults::standardPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1Char('/') + QLatin1String(Product::bundleIdentifier) + QLatin1String(".json");
}

FileUserDefaults::Contents FileUserDefaults::read() const {
    QString error;
    const std::optional<QByteArray> bytes = readExistingFile(m_path, &error);
    if (!error.isEmpty())
        return {Contents::Unreadable, {}, error};
    if (!bytes)
        return {Contents::Missing, {}, {}};
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(*bytes, &parse);
    if (parse.error != QJsonParseError::NoError)
        return {Contents::Corrupt, {}, parse.errorString()};
    if (!doc.isObject())
        return {Contents::Corrupt, {}, QStringLiteral("not a JSON object")};
    return {Contents::Object, doc.object(), {}};
}

// Call with the lock held, after reading the file again.
bool FileUserDefaults::keepAside(const QString& problem) const {
    const QString aside = corruptAsidePath(m_path);
    if (::rename(QFile::encodeName(m_path).constData(), QFile::encodeName(aside).constData()) !=
        0) {
        logLine(QStringLiteral("[Pinlark] preferences file %1 is not a JSON object (%2) and "
                               "could not be kept aside: %3")
                    .arg(m_path, problem, lastError()));
        return false;
    }
    logLine(QStringLiteral("[Pinlark] preferences file %1 is not a JSON object (%2); kept it as "
                           "%3 and started with empty preferences")
                .arg(m_path, problem, aside));
    return true;
}

std::optional<UserDefaults::Value> FileUserDefaults::value(const QString& key) const {
    Contents contents = read();
    if (contents.kind == Contents::Corrupt && !m_readOnly) {
        FileLock lock(m_path, FileLock::Wait);
        if (!lock.locked()) {
            contents = {Contents::Unreadable, {}, lock.error()};
        } else {
            contents = read();
            if (contents.kind == Contents::Corrupt && keepAside(contents.problem))
                contents = {Contents::Missing, {}, {}};
        }
    }
    if (contents.kind == Contents::Unreadable || contents.kind == Contents::Corrupt) {
        if (contents.problem != m_loggedProblem)
            logLine(QStringLiteral("[Pinlark] preferences file %1 could not be read (%2); "
                                   "reading it as empty until it can be read")
                        .arg(m_path, contents.problem));
        m_loggedProblem = contents.problem;
        return std::nullopt;
    }
    m_loggedProblem.clear();
    const auto it = contents.object.constFind(key);
    if (it == contents.object.constEnd())
        return std::nullopt;
    return fromJson(*it);
}

QString FileUserDefaults::store(const QString& key, std::optional<Value> value) {
    if (m_readOnly)
        return QStringLiteral("it is open for reading only");
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder))
        return QStringLiteral("could not create the folder %1").arg(folder);
    FileLock lock(m_path, FileLock::Wait);
    if (!lock.locked())
        return QStringLiteral("could not lock it: %1").arg(lock.error());
    Contents contents = read();
    if (contents.kind == Contents::Unreadable)
        return QStringLiteral("it could not be read (%1)").arg(contents.problem);
    if (contents.kind == Contents::Corrupt && !keepAside(contents.problem))
        return QStringLiteral("it is not a JSON object and could not be kept aside");
    QJsonObject& object = contents.object;
    if (value)
        object.insert(key, toJson(*value));
    else
        object.remove(key);
    return writeFileAtomically(m_path, QJsonDocument(object).toJson(QJsonDocument::Indented));
}

void FileUserDefaults::setValue(const QString& key, std::optional<Value> value) {
    const QString error = store(key, std::move(value));
    if (!error.isEmpty())
        logLine(
            QStringLiteral("[Pinlark] could not write preferences file %1: %2").arg(m_path, error));
}

} // namespace pinlark
