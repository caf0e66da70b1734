#pragma once

#include "platform/Clock.h"
#include "session/HttpRequestReader.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <list>
#include <memory>

class QSocketNotifier;

namespace pinlark {

// One accepted connection of the loopback listener: reads one request, gives it to the
// handler, sends the one answer and closes. It works on the socket itself, so a peer that
// finishes sending early (a half-close) can still be answered.
//
// Connections outlive the listener that accepted them. They are bounded: one that sends
// nothing for `idleTimeout`, or whose reads fail, is closed; at most `maxOpen` are open, and a
// new one beyond that closes the one idle longest.
class LoopbackConnection : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(const QString& head, const QByteArray& body,
                                       LoopbackConnection& connection)>;

    static constexpr int maxOpen = 256;
    static constexpr auto idleTimeout = std::chrono::seconds(30);

    // Takes over `socket`, a connected, accepted descriptor.
    static void accept(qintptr socket, Handler handler);
    // How many connections are open.
    static int openCount();
    // Closes every open connection at once (tests start clean).
    static void closeAll();

    // Sends `response` and closes the connection once it has gone out (or failed to).
    void respond(const QByteArray& response);

private:
    enum class Phase { Reading, Sending, Draining };

    LoopbackConnection(qintptr socket, Handler handler);
    ~LoopbackConnection() override;

    void readable();
    void writable();
    void touch();
    void close();

    int m_socket;
    Phase m_phase = Phase::Reading;
    Handler m_handler;
    HttpRequestReader m_reader;
    QByteArray m_pending;
    qsizetype m_drained = 0;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    std::unique_ptr<Clock::Timer> m_idle;
    // Position in the open list, which runs from idle longest to most recently active.
    std::list<LoopbackConnection*>::iterator m_position;
    bool m_listed = true;
};

} // namespace pinlark
