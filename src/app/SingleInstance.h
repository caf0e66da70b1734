#pragma once

#include "Product.h"
#include "app/CommandLine.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

class QLocalServer;
class QLocalSocket;

namespace pinlark {

// One running copy of the app per user. The first launch listens: on the session bus it owns
// the name `name` and answers the org.freedesktop.Application interface on the matching object
// path; and on a local socket in the user's runtime folder, where launches without the bus
// look. A later launch hands its command to that copy and ends.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Channel { Automatic, Bus, Socket };

    // Automatic takes the session bus when there is one, the socket otherwise.
    explicit SingleInstance(QString name = QLatin1String(Product::bundleIdentifier),
                            Channel channel = Channel::Automatic, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True: this process is the running copy now and hears later launches (a failure to
    // listen is logged and leaves it running alone). False: another copy runs; hand it the
    // command with send().
    bool listen();
    enum class Sent { Taken, Refused, NoAnswer };
    // Hands `command` to the running copy: taken, refused by that copy (a link it can't save),
    // or no answer in time.
    Sent send(const Command& command);

    Channel channel() const { return m_channel; }

    // What the running copy tells a later launch that asks (`Pinlark --doctor`): lines of text.
    std::function<QCoro::Task<QString>()> status;
    // Asks the running copy for its status, without listening first; none when no copy answers.
    std::optional<QString> queryStatus();
    static QString socketPath(const QString& name);

Q_SIGNALS:
    // A later launch's command. A link to save is an http or https link; anything else never
    // gets this far.
    void commandReceived(const pinlark::Command& command);

private:
    friend class ApplicationAdaptor;
    friend class StatusAdaptor;
    // Emits commandReceived for a command a later launch sent; logs and drops anything else.
    bool deliver(const std::optional<Command>& command);
    bool listenOnBus();
    bool listenOnSocket();
    void serve(QLocalSocket* socket);
    QCoro::Task<> answerStatus(QPointer<QLocalSocket> socket);

    QString m_name;
    Channel m_channel;
    QString m_connection; // our own bus connection's name
    QLocalServer* m_server = nullptr;
};

} // namespace pinlark
