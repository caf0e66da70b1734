#pragma once

#include <QHash>
#include <QStringList>
#include <QTcpServer>
#include <QUrl>

#include <functional>

namespace pinlark {

// A raw HTTP answer with a Content-Length and "Connection: close".
QByteArray httpAnswer(const QByteArray& statusLine, const QByteArray& contentType,
                      const QByteArray& body, const QByteArray& extraHeaders = {});

// A loopback port that nobody listens on.
quint16 closedPort();

// A peer on a real loopback socket with scripted raw answers: by request path ("/saves"),
// else `fallback`. It answers once a request has arrived whole (answering earlier would reset
// the connection); a path in `hanging`, or any path with an empty fallback and no answer of
// its own, is read and never answered. With `keepOpen` it leaves the connection open once it
// has answered.
class PagePeer : public QObject {
public:
    PagePeer();
    QUrl url(const QString& path = {}, const QString& host = QStringLiteral("127.0.0.1")) const;
    int count(const QString& path) const { return int(requested.count(path)); }

    QHash<QString, QByteArray> answers;
    QByteArray fallback = httpAnswer("404 Not Found", {}, {});
    QStringList hanging;
    QStringList requested;
    QByteArray lastUserAgent;
    // The Cookie header of the last request to each path ("" for none).
    QHash<QString, QByteArray> cookies;
    bool keepOpen = false;
    int connections = 0;
    std::function<void()> onConnection;

private:
    void read(QTcpSocket* socket);
    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_buffers;
};

} // namespace pinlark
