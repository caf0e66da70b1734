#pragma once

#include "session/LoopbackConnection.h"

#include <QTcpServer>

namespace pinlark {

// The sign-in listener on 127.0.0.1 with a port the system chooses. Every accepted connection
// becomes a LoopbackConnection with the listener's handler; none is refused here.
class LoopbackListener : public QTcpServer {
    Q_OBJECT
public:
    explicit LoopbackListener(LoopbackConnection::Handler handler);

protected:
    void incomingConnection(qintptr socket) override;

private:
    LoopbackConnection::Handler m_handler;
};

} // namespace pinlark
