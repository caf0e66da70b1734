#pragma once

#include <QByteArray>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

namespace pinlark {

// A peer on a real loopback socket that answers every request, once its head has arrived, with
// the same raw bytes, then closes the connection unless `keepOpen`. With no bytes it accepts
// and never says a word.
class RawPeer : public QObject {
public:
    explicit RawPeer(QByteArray answer, bool keepOpen = false)
        : m_answer(std::move(answer))
        , m_keepOpen(keepOpen) {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                ++connections;
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                    m_head[socket] += socket->readAll();
                    if (m_answer.isEmpty() || !m_head[socket].contains("\r\n\r\n"))
                        return;
                    socket->write(m_answer);
                    if (!m_keepOpen)
                        socket->disconnectFromHost();
                });
            }
        });
    }
    QUrl origin() const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()));
    }

    // An HTTP/1.1 answer with `body`; `length` overrides the Content-Length sent.
    static QByteArray http(const char* statusLine, const QByteArray& body, qint64 length = -1) {
        return QByteArray("HTTP/1.1 ") + statusLine +
               "\r\nConnection: close\r\nContent-Type: application/json\r\nContent-Length: " +
               QByteArray::number(length < 0 ? body.size() : length) + "\r\n\r\n" + body;
    }

    int connections = 0;

private:
    QTcpServer m_server;
    QByteArray m_answer;
    bool m_keepOpen;
    QHash<QTcpSocket*, QByteArray> m_head;
};

} // namespace pinlark
