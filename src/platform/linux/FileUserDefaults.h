#pragma once

#include "platform/UserDefaults.h"

#include <QJsonObject>

namespace pinlark {

// User defaults in one JSON file per bundle identifier. Strings, booleans and integers are JSON
// values of their own type; data is an object {"data": "<base64>"}. Every write is a
// read-modify-write of the whole file under flock(2) on "<file>.lock", committed by an atomic
// rename, so another process writing the same file (the defaults tool) is never lost; the
// kernel releases the lock of a writer that dies.
//
// A file that cannot be opened or read is left alone: reads give absent and writes fail until
// it can be read again. Only a file whose bytes were read and are not a JSON object is kept
// aside under a new name (".corrupt-<UTC time>"), under the lock, and preferences start empty.
//
// Uses QtCore only, so command-line tools can share it.
class FileUserDefaults : public UserDefaults {
public:
    // Removes the new files that writers killed mid-write left next to `path`. A reader that
    // must change nothing (`readOnly`) removes nothing, keeps no file aside and writes nothing.
    explicit FileUserDefaults(QString path, bool readOnly = false);

    // $XDG_CONFIG_HOME/<bundle identifier>.json
    static QString standardPath();

    std::optional<Value> value(const QString& key) const override;
    // Logs the reason when the write fails.
    void setValue(const QString& key, std::optional<Value> value) override;

    // Stores `value` under `key` (none removes the key), waiting for other writers. Gives the
    // reason the file was not written, or an empty string.
    QString store(const QString& key, std::optional<Value> value);

    QString path() const { return m_path; }

private:
    struct Contents;
    Contents read() const;
    bool keepAside(const QString& problem) const;

    QString m_path;
    bool m_readOnly = false;
    // The last read failure logged, so that repeated reads log it once.
    mutable QString m_loggedProblem;
};

} // namespace pinlark
