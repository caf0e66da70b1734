#pragma once

#include <httplib.h>

#include <chrono>
#include <cstddef>

namespace pinlark::devservice {

// An HTTP server whose connections cannot hold more than a bounded amount of memory or a worker
// for long. Per request it reads at most `maxHeadBytes` of request line and headers, and then
// only a body whose length was announced and is within the payload limit; a request must arrive
// whole within `requestTime`. A body of another kind (chunked, compressed, or without a length
// where one is expected) is refused before a byte of it is read: 413, or 411 for a missing
// length. A connection on which a request was refused or overran its bounds is closed after the
// answer.
class BoundedServer : public httplib::Server {
public:
    static constexpr std::size_t maxHeadBytes = 64 * 1024;
    static constexpr std::chrono::seconds requestTime{10};

    BoundedServer();

    // Whether the address it is bound to is a loopback one.
    bool listensOnLoopback() const;

protected:
    bool process_and_close_socket(socket_t sock) override;
};

} // namespace pinlark::devservice
