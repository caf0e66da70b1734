#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <variant>

namespace pinlark {

// The app's preferences: typed values under string keys, kept per bundle identifier.
class UserDefaults {
public:
    using Value = std::variant<QString, bool, qint64, QByteArray>;

    virtual ~UserDefaults() = default;

    // The stored value, or none when the key is absent.
    virtual std::optional<Value> value(const QString& key) const = 0;
    // Stores `value` under `key`; none removes the key.
    virtual void setValue(const QString& key, std::optional<Value> value) = 0;

    // Typed reads: none when the key is absent or holds another type.
    std::optional<QString> string(const QString& key) const { return get<QString>(key); }
    std::optional<bool> boolean(const QString& key) const { return get<bool>(key); }
    std::optional<qint64> integer(const QString& key) const { return get<qint64>(key); }
    std::optional<QByteArray> data(const QString& key) const { return get<QByteArray>(key); }

    void set(const QString& key, const QString& v) { setValue(key, Value(v)); }
    void set(const QString& key, const char* v) { setValue(key, Value(QString::fromUtf8(v))); }
    void set(const QString& key, bool v) { setValue(key, Value(v)); }
    void set(const QString& key, qint64 v) { setValue(key, Value(v)); }
    void set(const QString& key, const QByteArray& v) { setValue(key, Value(v)); }
    void remove(const QString& key) { setValue(key, std::nullopt); }

private:
    template <typename T> std::optional<T> get(const QString& key) const {
        const auto v = value(key);
        if (v && std::holds_alternative<T>(*v))
            return std::get<T>(*v);
        return std::nullopt;
    }
};

} // namespace pinlark
