// The sign-in listener under a flood of idle connections: memory per held connection, and the
// time to answer a valid pre-flight while idle connections keep the listener at its cap.
//   build/bench/bench_signin [idle connections] [pre-flights]
#include "platform/fake/FakePlatform.h"
#include "session/Connect.h"
#include "session/LoopbackConnection.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QUrlQuery>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace pinlark;
using SteadyClock = std::chrono::steady_clock;

namespace {

long residentBytes() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    return statm.readAll().split(' ').value(1).toLong() * sysconf(_SC_PAGESIZE);
}

int connectTo(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// One pre-flight from connect to the end of the answer.
double preflight(quint16 port, const QByteArray& request) {
    const auto start = SteadyClock::now();
    const int fd = connectTo(port);
    if (fd < 0)
        return -1;
    if (::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) < 0) {
        ::close(fd);
        return -1;
    }
    char buffer[1024];
    qsizetype received = 0;
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
        received += n;
    ::close(fd);
    if (received == 0)
        return -1;
    return std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int idleCount = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int preflights = argc > 2 ? std::atoi(argv[2]) : 2000;

    FakePlatform fakes = FakePlatform::install();
    fakes.defaults->set(QStringLiteral("origin"), "https://pinlark.example");
    Connect::begin();
    while (fakes.workspace->opened.isEmpty())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const quint16 port =
        QUrlQuery(fakes.workspace->opened.first()).queryItemValue(u"port"_qs).toUShort();
    const auto settle = [](auto done) {
        const auto deadline = SteadyClock::now() + std::chrono::seconds(20);
        while (!done() && SteadyClock::now() < deadline) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    };

    // Memory: as many idle connections as the listener holds.
    const long before = residentBytes();
    std::vector<int> idle;
    for (int i = 0; i < LoopbackConnection::maxOpen; ++i)
        idle.push_back(connectTo(port));
    settle([] { return LoopbackConnection::openCount() == LoopbackConnection::maxOpen; });
    const long after = residentBytes();
    std::printf("held %d idle connections: %.0f bytes each (resident memory)\n",
                LoopbackConnection::openCount(),
                double(after - before) / LoopbackConnection::openCount());

    // Pre-flights after `idleCount` idle connections were opened: the listener is at its cap
    // throughout, each pre-flight crowding out the connection idle longest and a new idle
    // connection following it.
    std::atomic<bool> finished = false;
    std::vector<double> times;
    std::thread client([&] {
        // Connected from here: the listener accepts on the main thread meanwhile.
        while (int(idle.size()) < idleCount)
            idle.push_back(connectTo(port));
        const QByteArray request = "OPTIONS / HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                   "Origin: https://pinlark.example\r\n"
                                   "Access-Control-Request-Method: POST\r\n"
                                   "Access-Control-Request-Headers: content-type\r\n\r\n";
        for (int i = 0; i < preflights; ++i) {
            times.push_back(preflight(port, request));
            // The pre-flight crowded out the connection idle longest: another one arrives.
            idle.push_back(connectTo(port));
        }
        finished = true;
    });
    while (!finished) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    client.join();

    const long failed = std::count(times.begin(), times.end(), -1.0);
    std::erase(times, -1.0);
    std::sort(times.begin(), times.end());
    const auto at = [&](double q) {
        return times.empty() ? 0.0 : times[std::size_t(q * (times.size() - 1))];
    };
    std::printf("%zu pre-flights after %d idle connections, %d held: "
                "p50 %.3f ms, p99 %.3f ms, max %.3f ms, %ld unanswered\n",
                times.size(), idleCount, LoopbackConnection::openCount(), at(0.5), at(0.99),
                times.empty() ? 0.0 : times.back(), failed);
    for (int fd : idle)
        ::close(fd);
    Connect::stop();
    return 0;
}
