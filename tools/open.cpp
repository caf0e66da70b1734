// open: the Linux stand-in for the system's open tool, for application bundles only.
//
//   open BUNDLE    starts BUNDLE/Contents/MacOS/<CFBundleExecutable, else Pinlark>
//
// The program runs detached from the caller: a session of its own, no controlling terminal,
// standard streams on /dev/null, and reparented away from the caller, which may exit at once.
// Exits 0 once the program has started, 1 when it could not be.

#include "platform/PropertyList.h"

#include <QFile>
#include <QString>
#include <QVariantMap>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: open BUNDLE\n", stderr);
        return 2;
    }
    const QString bundle = QString::fromLocal8Bit(argv[1]);
    QString name = QStringLiteral("Pinlark");
    const auto info = pinlark::readPropertyList(bundle + QLatin1String("/Contents/Info.plist"));
    const QVariant declared =
        info ? info->toMap().value(QStringLiteral("CFBundleExecutable")) : QVariant();
    if (declared.typeId() == QMetaType::QString && !declared.toString().contains(QLatin1Char('/')))
        name = declared.toString();
    const QByteArray executable =
        QFile::encodeName(bundle + QLatin1String("/Contents/MacOS/") + name);

    // The grandchild reports a failed exec through a pipe that closes on a successful one.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return 1;
    const pid_t child = ::fork();
    if (child < 0)
        return 1;
    if (child == 0) {
        ::setsid();
        if (::fork() != 0)
            ::_exit(0);
        ::close(report[0]);
        const int null = ::open("/dev/null", O_RDWR);
        for (int fd = 0; fd < 3; ++fd)
            ::dup2(null, fd);
        char* const args[] = {const_cast<char*>(executable.constData()), nullptr};
        ::execv(executable.constData(), args);
        const int error = errno;
        [[maybe_unused]] const auto written = ::write(report[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(report[1]);
    ::waitpid(child, nullptr, 0);
    int error = 0;
    const ssize_t n = ::read(report[0], &error, sizeof error);
    if (n > 0) {
        std::fprintf(stderr, "open: can't start %s: %s\n", executable.constData(),
                     std::strerror(error));
        return 1;
    }
    return 0;
}
