// The app's library window on its own, for bench/memory: the Linux platform services, the
// web engine prepared as the app does it, and the window shown at start. A line "hide" or "show" on
// standard input does what the user's hotkey does.
#include "library/Dashboard.h"
#include "platform/WebProfile.h"
#include "platform/linux/LinuxPlatform.h"

#include <QApplication>
#include <QSocketNotifier>

#include <unistd.h>

using namespace pinlark;

int main(int argc, char** argv) {
    prepareWebEngine();
    QApplication app(argc, argv);
    LinuxPlatform::install();
    Dashboard::shared().show();

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[256];
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            QCoreApplication::quit();
            return;
        }
        pending.append(buffer, n);
        for (qsizetype end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1)) {
            const QByteArray line = pending.left(end).trimmed();
            if (line == "hide")
                Dashboard::shared().hide();
            else if (line == "show")
                Dashboard::shared().show();
        }
    });
    return app.exec();
}
