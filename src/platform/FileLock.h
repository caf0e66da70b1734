#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace pinlark {

// flock(2) on "<file>.lock" while it lives: the writers of one file take turns, across
// processes, and the kernel releases the lock of a writer that dies.
class FileLock {
public:
    enum Mode { Wait, DontWait };
    FileLock(const QString& path, Mode mode);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool locked() const { return m_fd >= 0; }
    QString error() const { return m_error; }

private:
    int m_fd = -1;
    QString m_error;
};

// The bytes of the file, or none when it does not exist; an error description when it exists
// but could not be opened or read. Reads without blocking, so that a pipe put in its place
// reads as empty instead of hanging, and stops once more than `limit` bytes have come (when
// `limit` is not negative).
std::optional<QByteArray> readExistingFile(const QString& path, QString* error, qint64 limit = -1);

} // namespace pinlark
