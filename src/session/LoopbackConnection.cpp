#include "session/LoopbackConnection.h"

#include "platform/Platform.h"

#include <QSocketNotifier>

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace pinlark {

namespace {
// After the answer, what the peer still sends is read and thrown away, up to this much, so
// that closing does not reset the connection before the peer has read the answer.
constexpr qsizetype drainLimit = 64 * 1024;

std::list<LoopbackConnection*>& openList() {
    static std::list<LoopbackConnection*> list;
    return list;
}
} // namespace

void LoopbackConnection::accept(qintptr socket, Handler handler) {
    if (openList().size() >= std::size_t(maxOpen))
        openList().front()->close();
    new LoopbackConnection(socket, std::move(handler));
}

int LoopbackConnection::openCount() {
    return int(openList().size());
}

void LoopbackConnection::closeAll() {
    while (!openList().empty())
        delete openList().front();
}

LoopbackConnection::LoopbackConnection(qintptr socket, Handler handler)
    : m_socket(int(socket))
    , m_handler(std::move(handler)) {
    m_position = openList().insert(openList().end(), this);
    m_readNotifier = new QSocketNotifier(socket, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &LoopbackConnection::readable);
    touch();
}

LoopbackConnection::~LoopbackConnection() {
    if (m_listed)
        openList().erase(m_position);
    ::close(m_socket);
}

void LoopbackConnection::touch() {
    openList().splice(openList().end(), openList(), m_position);
    m_idle = Platform::clock().startTimer(idleTimeout, false, [this] { close(); });
}

void LoopbackConnection::close() {
    if (!m_readNotifier)
        return;
    // Notifiers first: the descriptor is closed with the object, later, when no callback of
    // this connection is running any more.
    delete std::exchange(m_readNotifier, nullptr);
    delete std::exchange(m_writeNotifier, nullptr);
    m_idle.reset();
    openList().erase(m_position);
    m_listed = false;
    deleteLater();
}

void LoopbackConnection::readable() {
    char buffer[HttpRequestReader::capacity];
    const qsizetype want =
        m_phase == Phase::Reading ? m_reader.nextReadSize() : qsizetype(sizeof buffer);
    const ssize_t n = ::recv(m_socket, buffer, size_t(want), 0);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            return;
        close();
        return;
    }
    touch();
    if (m_phase != Phase::Reading) {
        m_drained += n;
        if (n == 0 || m_drained > drainLimit)
            close();
        return;
    }
    switch (m_reader.receive(QByteArrayView(buffer, n), n == 0)) {
    case HttpRequestReader::Step::ReadMore:
        return;
    case HttpRequestReader::Step::Drop:
        close();
        return;
    case HttpRequestReader::Step::Complete:
        m_phase = Phase::Sending;
        // Nothing more is read until the answer has gone out.
        m_readNotifier->setEnabled(false);
        m_handler(m_reader.head(), m_reader.body(), *this);
        return;
    }
}

void LoopbackConnection::respond(const QByteArray& response) {
    if (m_phase != Phase::Sending || !m_readNotifier)
        return;
    m_pending = response;
    writable();
}

void LoopbackConnection::writable() {
    while (!m_pending.isEmpty()) {
        const ssize_t n =
            ::send(m_socket, m_pending.constData(), size_t(m_pending.size()), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                if (!m_writeNotifier) {
                    m_writeNotifier = new QSocketNotifier(m_socket, QSocketNotifier::Write, this);
                    connect(m_writeNotifier, &QSocketNotifier::activated, this,
                            &LoopbackConnection::writable);
                }
                return;
            }
            close();
            return;
        }
        m_pending.remove(0, n);
    }
    delete std::exchange(m_writeNotifier, nullptr);
    // The answer is out: end our side and wait for the peer's end.
    ::shutdown(m_socket, SHUT_WR);
    m_phase = Phase::Draining;
    m_readNotifier->setEnabled(true);
}

} // namespace pinlark
