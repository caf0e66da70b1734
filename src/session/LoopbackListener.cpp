#include "session/LoopbackListener.h"

namespace pinlark {

LoopbackListener::LoopbackListener(LoopbackConnection::Handler handler)
    : m_handler(std::move(handler)) {}

void LoopbackListener::incomingConnection(qintptr socket) {
  LoopbackConnection::accept(socket, m_handler);
}

} // namespace pinlark
