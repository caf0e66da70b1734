#include "session/LoopbackListener.h"

namespace pinlark {

LoopbackListener::LoopbackListener(LoopbackConnection::Handler handler)
    : m_handler(std::move(handler)) {
    // Connections that arrive together wait in the system's queue, not in SYN retries.
    setListenBacklogSize(LoopbackConnection::maxOpen);
}

void LoopbackListener::incomingConnection(qintptr socket) {
    LoopbackConnection::accept(socket, m_handler);
}

} // namespace pinlark
