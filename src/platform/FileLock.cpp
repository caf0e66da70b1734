#include "platform/FileLock.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace pinlark {

namespace {

QString lastError() {
    return qt_error_string(errno);
}

} // namespace

FileLock::FileLock(const QString& path, Mode mode) {
    m_fd = ::open(QFile::encodeName(path + QLatin1String(".lock")).constData(),
                  O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0) {
        m_error = lastError();
        return;
    }
    int r;
    do
        r = ::flock(m_fd, LOCK_EX | (mode == DontWait ? LOCK_NB : 0));
    while (r != 0 && errno == EINTR);
    if (r != 0) {
        m_error = lastError();
        ::close(m_fd);
        m_fd = -1;
    }
}

FileLock::~FileLock() {
    if (m_fd >= 0)
        ::close(m_fd);
}

std::optional<QByteArray> readExistingFile(const QString& path, QString* error, qint64 limit) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno != ENOENT)
            *error = lastError();
        return std::nullopt;
    }
    QByteArray bytes;
    char buffer[16384];
    while (limit < 0 || bytes.size() <= limit) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            *error = lastError();
            ::close(fd);
            return std::nullopt;
        }
    }
    ::close(fd);
    return bytes;
}

} // namespace pinlark
