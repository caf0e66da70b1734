#include "platform/AtomicFile.h"

#include "platform/FileLock.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pinlark {

namespace {

// A name no one gives a file by hand, so that removing dead writers' files never removes a
// user's own copy.
constexpr char newFileInfix[] = ".writing-";

QString lastError() {
    return qt_error_string(errno);
}

mode_t modeOf(QFileDevice::Permissions permissions) {
    const int bits = int(permissions); // owner 0x7000, group 0x70, others 0x7
    return mode_t(((bits & 0x7000) >> 6) | ((bits & 0x70) >> 1) | (bits & 0x7));
}

} // namespace

QString writeFileAtomically(const QString& path, const QByteArray& bytes,
                            QFileDevice::Permissions permissions) {
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath()))
        return QStringLiteral("Could not create the folder %1.").arg(info.absolutePath());
    QByteArray name =
        QFile::encodeName(path + QLatin1String(newFileInfix) + QLatin1String("XXXXXX"));
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        return lastError();
    QString error;
    if (::fchmod(fd, modeOf(permissions)) != 0)
        error = lastError();
    qsizetype written = 0;
    while (error.isEmpty() && written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            error = n < 0 ? lastError() : QStringLiteral("Nothing could be written.");
        else
            written += n;
    }
    if (error.isEmpty() && ::fsync(fd) != 0)
        error = lastError();
    if (::close(fd) != 0 && error.isEmpty())
        error = lastError();
    if (error.isEmpty() && ::rename(name.constData(), QFile::encodeName(path).constData()) != 0)
        error = lastError();
    if (!error.isEmpty())
        ::unlink(name.constData());
    return error;
}

void removeDeadWritersFiles(const QString& path) {
    const QFileInfo info(path);
    QDir dir(info.absolutePath(), {}, QDir::NoSort, QDir::Files | QDir::Hidden | QDir::System);
    dir.setNameFilters({info.fileName() + QLatin1String(newFileInfix) + QLatin1Char('*')});
    if (dir.entryList().isEmpty())
        return;
    // A writer makes its new file only while it holds the lock, so whatever is there while this
    // holds it is a dead writer's. When a live writer is at work, the next start removes them.
    FileLock lock(path, FileLock::DontWait);
    if (!lock.locked())
        return;
    for (const QString& name : dir.entryList())
        dir.remove(name);
}

QString corruptAsidePath(const QString& path, const QDateTime& when) {
    return path + QLatin1String(".corrupt-") +
           (when.isValid() ? when : QDateTime::currentDateTimeUtc())
               .toUTC()
               .toString(QStringLiteral("yyyyMMddTHHmmsszzz"));
}

} // namespace pinlark
