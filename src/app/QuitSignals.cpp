#include "app/QuitSignals.h"

#include "platform/Log.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace pinlark {

namespace {

constexpr int quitSignals[] = {SIGTERM, SIGHUP, SIGINT};
// The end the handler writes to, and the one the event loop reads.
int pipeEnds[2] = {-1, -1};

void onSignal(int number) {
    const int saved = errno;
    const char byte = char(number);
    // Async-signal-safe; a full pipe already holds a quit.
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[0], &byte, 1);
    errno = saved;
}

} // namespace

QuitSignals::QuitSignals(QObject* parent)
    : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pipeEnds) != 0) {
        logLine(QStringLiteral("[Pinlark] no quit on signals: %1").arg(qt_error_string(errno)));
        return;
    }
    m_notifier = new QSocketNotifier(pipeEnds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [] {
        char byte = 0;
        if (::read(pipeEnds[1], &byte, 1) != 1)
            return;
        logLine(QStringLiteral("[Pinlark] quitting on signal %1").arg(int(byte)));
        // As the menu's Quit: the library window would answer a close by hiding.
        QCoreApplication::exit(0);
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : quitSignals)
        ::sigaction(number, &action, nullptr);
}

QuitSignals::~QuitSignals() {
    for (const int number : quitSignals)
        std::signal(number, SIG_DFL);
    delete m_notifier;
    m_notifier = nullptr;
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    pipeEnds[0] = pipeEnds[1] = -1;
}

} // namespace pinlark
