#include "PagePeer.h"

#include <QTcpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace pinlark {

QByteArray httpAnswer(const QByteArray& statusLine, const QByteArray& contentType,
                      const QByteArray& body, const QByteArray& extraHeaders) {
    QByteArray bytes = "HTTP/1.1 " + statusLine + "\r\nConnection: close\r\n" + extraHeaders;
    if (!contentType.isEmpty())
        bytes += "Content-Type: " + contentType + "\r\n";
    return bytes + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

quint16 closedPort() {
    // Bound for the test's whole life but never listening: connections are refused, and no
    // other process can take the port meanwhile.
    static const quint16 port = [] {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            qFatal("no loopback port to keep closed");
        return ntohs(address.sin_port);
    }();
    return port;
}

PagePeer::PagePeer() {
    m_server.listen(QHostAddress::LocalHost);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            ++connections;
            if (onConnection)
                onConnection();
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        }
    });
}

QUrl PagePeer::url(const QString& path, const QString& host) const {
    return QUrl(QStringLiteral("http://%1:%2%3").arg(host).arg(m_server.serverPort()).arg(path));
}

void PagePeer::read(QTcpSocket* socket) {
    QByteArray& buffer = m_buffers[socket];
    buffer += socket->readAll();
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    const QList<QByteArray> lines = buffer.left(end).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).split(' ');
    const QString path = QString::fromUtf8(requestLine.value(1));
    qsizetype length = 0;
    QByteArray cookie;
    for (const QByteArray& line : lines) {
        if (line.toLower().startsWith("user-agent:"))
            lastUserAgent = line.mid(11).trimmed();
        if (line.toLower().startsWith("cookie:"))
            cookie = line.mid(7).trimmed();
        if (line.toLower().startsWith("content-length:"))
            length = line.mid(15).trimmed().toLongLong();
    }
    if (buffer.size() < end + 4 + length)
        return;
    m_buffers.remove(socket);
    requested.append(path);
    cookies[path] = cookie;
    const QByteArray answer = answers.value(path, fallback);
    if (hanging.contains(path) || answer.isEmpty())
        return;
    socket->write(answer);
    if (!keepOpen)
        socket->disconnectFromHost();
}

} // namespace pinlark
