#include "BoundedServer.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace pinlark::devservice {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// One connection's socket as the server reads and writes it, with the bounds of the request
// under way: how many more bytes it may read, and until when.
class Connection : public httplib::Stream {
public:
    Connection(socket_t sock, milliseconds writeTimeout)
        : m_sock(sock)
        , m_writeTimeout(writeTimeout) {}

    // Waits up to `idle` for the next request to begin; false when none does.
    bool awaitRequest(milliseconds idle) const { return m_begin < m_end || wait(POLLIN, idle); }
    void startRequest() {
        m_budget = BoundedServer::maxHeadBytes;
        m_inBody = false;
        m_deadline = Clock::now() + BoundedServer::requestTime;
    }
    // The head has been read; what is left of the request is a body of `length` bytes.
    void expectBody(std::size_t length) {
        m_budget = length;
        m_inBody = true;
    }
    // Reads past what the server left unread of the body (it reads none for a GET), so that
    // it isn't taken for the next request; false when that fails.
    bool skipBody() {
        std::array<char, 4096> scratch;
        while (m_inBody && m_budget > 0) {
            if (read(scratch.data(), scratch.size()) <= 0)
                return false;
        }
        return true;
    }
    // Ends the connection once the request has been answered.
    void close() { m_closing = true; }
    bool reusable() const { return !m_closing; }

    bool is_readable() const override {
        return m_begin < m_end ||
               wait(POLLIN, std::chrono::duration_cast<milliseconds>(m_deadline - Clock::now()));
    }
    bool is_writable() const override { return wait(POLLOUT, m_writeTimeout); }

    ssize_t read(char* ptr, size_t size) override {
        if (m_budget == 0 || (m_begin == m_end && !fill())) {
            m_closing = true;
            return -1;
        }
        const std::size_t n = std::min({size, m_budget, m_end - m_begin});
        std::memcpy(ptr, m_buffer.data() + m_begin, n);
        m_begin += n;
        m_budget -= n;
        return ssize_t(n);
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (!is_writable())
            return -1;
        return ::send(m_sock, ptr, size, MSG_NOSIGNAL);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        address(::getpeername, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        address(::getsockname, ip, port);
    }
    socket_t socket() const override { return m_sock; }

private:
    bool wait(short events, milliseconds timeout) const {
        pollfd fd{m_sock, events, 0};
        int ready = 0;
        do {
            ready = ::poll(&fd, 1, int(std::max(timeout, milliseconds(0)).count()));
        } while (ready < 0 && errno == EINTR);
        return ready > 0;
    }

    // Reads what has arrived into the empty buffer; false at the end of the stream, on an error
    // or past the request's deadline.
    bool fill() {
        if (!is_readable())
            return false;
        const ssize_t n = ::recv(m_sock, m_buffer.data(), m_buffer.size(), 0);
        if (n <= 0)
            return false;
        m_begin = 0;
        m_end = std::size_t(n);
        return true;
    }

    template <typename Query> void address(Query query, std::string& ip, int& port) const {
        sockaddr_storage addr{};
        socklen_t length = sizeof addr;
        if (query(m_sock, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
            return;
        std::array<char, NI_MAXHOST> host{};
        std::array<char, NI_MAXSERV> service{};
        if (::getnameinfo(reinterpret_cast<sockaddr*>(&addr), length, host.data(), host.size(),
                          service.data(), service.size(), NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
            ip = host.data();
            port = std::atoi(service.data());
        }
    }

    socket_t m_sock;
    milliseconds m_writeTimeout;
    std::array<char, 4096> m_buffer{};
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    std::size_t m_budget = 0;
    bool m_inBody = false;
    Clock::time_point m_deadline;
    bool m_closing = false;
};

// The connection that the calling worker thread serves.
thread_local Connection* t_connection = nullptr;

// Whether the server reads a body for `method` even without a length (up to the end of the
// stream).
bool readsBodyWithoutLength(const std::string& method) {
    return method == "POST" || method == "PUT" || method == "PATCH" || method == "PRI";
}

} // namespace

BoundedServer::BoundedServer() {
    set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        Connection& connection = *t_connection;
        const auto refuse = [&](int status) {
            res.status = status;
            res.set_header("Connection", "close");
            connection.close();
            return HandlerResponse::Handled;
        };
        const std::string encoding = req.get_header_value("Content-Encoding");
        if (req.has_header("Transfer-Encoding") || (!encoding.empty() && encoding != "identity"))
            return refuse(413);
        if (!req.has_header("Content-Length")) {
            if (readsBodyWithoutLength(req.method))
                return refuse(411);
            connection.expectBody(0);
            return HandlerResponse::Unhandled;
        }
        const std::string text = req.get_header_value("Content-Length");
        if (text.empty() || text.size() > 18 ||
            !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return refuse(400);
        const std::size_t length = std::stoull(text);
        if (length > payload_max_length_)
            return refuse(413);
        connection.expectBody(length);
        return HandlerResponse::Unhandled;
    });
}

bool BoundedServer::process_and_close_socket(socket_t sock) {
    Connection connection(sock, std::chrono::seconds(write_timeout_sec_));
    t_connection = &connection;
    bool ok = true;
    for (std::size_t left = keep_alive_max_count_; left > 0 && is_running(); --left) {
        if (!connection.awaitRequest(std::chrono::seconds(keep_alive_timeout_sec_)))
            break;
        connection.startRequest();
        bool closed = false;
        ok = process_request(connection, left == 1, closed, {});
        if (!ok || closed || !connection.reusable() || !connection.skipBody())
            break;
    }
    t_connection = nullptr;
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return ok;
}

bool BoundedServer::listensOnLoopback() const {
    sockaddr_storage addr{};
    socklen_t length = sizeof addr;
    if (::getsockname(svr_sock_, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
        return false;
    if (addr.ss_family == AF_INET)
        return (ntohl(reinterpret_cast<const sockaddr_in&>(addr).sin_addr.s_addr) >> 24) == 127;
    if (addr.ss_family == AF_INET6) {
        const in6_addr& a = reinterpret_cast<const sockaddr_in6&>(addr).sin6_addr;
        return IN6_IS_ADDR_LOOPBACK(&a) || (IN6_IS_ADDR_V4MAPPED(&a) && a.s6_addr[12] == 127);
    }
    return false;
}

} // namespace pinlark::devservice
