#pragma once

#include "platform/UserDefaults.h"

#include <QJsonObject>

namespace pinlark {

// User defaults in one JSON file per bundle identifier. Strings, booleans and integers are JSON
// values of their own type; data is an object {"data": "<base64>"}. Every write is a
// read-modify-write of the whole file under a lock file, committed by an atomic rename, so
// another process writing the same file (the defaults tool) is never lost. A file that cannot
// be read as a JSON object reads as empty and is kept aside under a new name.
class FileUserDefaults : public UserDefaults {
public:
    explicit FileUserDefaults(QString path);

    // $XDG_CONFIG_HOME/<bundle identifier>.json
    static QString standardPath();

    std::optional<Value> value(const QString& key) const override;
    void setValue(const QString& key, std::optional<Value> value) override;

    QString path() const { return m_path; }

private:
    QJsonObject load() const;

    QString m_path;
};

} // namespace pinlark
