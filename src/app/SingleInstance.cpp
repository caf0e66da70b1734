#include "app/SingleInstance.h"

#include "platform/Log.h"
#include "platform/Platform.h"
#include "quicksave/LinkFinder.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>
#include <QRandomGenerator>
#include <QStandardPaths>

namespace pinlark {

namespace {

const QLatin1String applicationInterface("org.freedesktop.Application");
// Over the socket a launch sends one line and reads one line back: "ok" or "refused". The
// longest is a save of the most links a save takes, each as long as a link may be.
constexpr qsizetype maxLine = 1024 * 1024;
static_assert(maxLine > FoundLinks::maxLinks * (8192 + 1) + 16);
const QLatin1String saveClipboard("save-clipboard");
constexpr auto socketTimeout = std::chrono::seconds(5);
constexpr int sendTimeoutMs = 5000;

const struct {
    Command::Kind kind;
    const char* name;
} commandNames[] = {{Command::Kind::Reopen, "reopen"},
                    {Command::Kind::Save, "save"},
                    {Command::Kind::QuickSave, "quick-save"},
                    {Command::Kind::ToggleLibrary, "toggle-library"}};

QString nameOf(Command::Kind kind) {
    for (const auto& c : commandNames) {
        if (c.kind == kind)
            return QLatin1String(c.name);
    }
    return {};
}

// "save https://…", "save https://… https://…" (several links, each once), "save-clipboard",
// "reopen", …
std::optional<Command> decode(const QString& text) {
    const QString name = text.section(QLatin1Char(' '), 0, 0);
    const QString argument = text.section(QLatin1Char(' '), 1);
    if (name == saveClipboard) {
        if (!argument.isEmpty())
            return std::nullopt;
        Command command{Command::Kind::Save, {}};
        command.clipboard = true;
        return command;
    }
    for (const auto& c : commandNames) {
        if (name != QLatin1String(c.name))
            continue;
        if (c.kind != Command::Kind::Save)
            return argument.isEmpty() ? std::optional(Command{c.kind, {}}) : std::nullopt;
        const QStringList parts = argument.split(QLatin1Char(' '));
        if (parts.size() > 1) {
            if (parts.size() > FoundLinks::maxLinks)
                return std::nullopt;
            QList<QUrl> links;
            for (const QString& part : parts) {
                const auto link = CommandLine::saveableLink(part);
                if (!link || part != part.trimmed() || links.contains(*link))
                    return std::nullopt;
                links.append(*link);
            }
            return Command{c.kind, links.first(), links};
        }
        if (const auto link = CommandLine::saveableLink(argument))
            return Command{c.kind, *link};
        return std::nullopt;
    }
    return std::nullopt;
}

// The links of a save as they travel, encoded.
QStringList encodedLinks(const Command& command) {
    QStringList texts;
    for (const QUrl& link : command.links.isEmpty() ? QList<QUrl>{command.link} : command.links)
        texts.append(QString::fromLatin1(link.toEncoded()));
    return texts;
}

QString encode(const Command& command) {
    if (command.clipboard)
        return saveClipboard;
    QString text = nameOf(command.kind);
    if (command.kind == Command::Kind::Save)
        text += QLatin1Char(' ') + encodedLinks(command).join(QLatin1Char(' '));
    return text;
}

// "app.pinlark.Pinlark" -> "/app/pinlark/Pinlark"
QString objectPath(const QString& name) {
    QString path = QLatin1Char('/') + name;
    path.replace(QLatin1Char('.'), QLatin1Char('/')).replace(QLatin1Char('-'), QLatin1Char('_'));
    return path;
}

} // namespace

// The org.freedesktop.Application interface: Activate is a plain second launch, Open links to
// save, ActivateAction one of the other commands by name.
class ApplicationAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    explicit ApplicationAdaptor(SingleInstance* instance)
        : QDBusAbstractAdaptor(instance)
        , m_instance(instance) {}

public Q_SLOTS:
    void Activate(const QVariantMap&) { m_instance->deliver(Command{}); }
    void Open(const QStringList& uris, const QVariantMap&, const QDBusMessage& message) {
        answer(message, uris.isEmpty() ? std::nullopt
                                       : decode(QStringLiteral("save ") +
                                                uris.join(QLatin1Char(' '))));
    }
    void ActivateAction(const QString& name, const QVariantList& parameters, const QVariantMap&,
                        const QDBusMessage& message) {
        const bool other = name == nameOf(Command::Kind::QuickSave) ||
                           name == nameOf(Command::Kind::ToggleLibrary) || name == saveClipboard;
        answer(message, other && parameters.isEmpty() ? decode(name) : std::nullopt);
    }

private:
    // A command the running copy can't take is answered with an error, so the launch that sent
    // it can say so.
    void answer(const QDBusMessage& message, const std::optional<Command>& command) {
        if (m_instance->deliver(command))
            return;
        message.setDelayedReply(true);
        QDBusConnection(m_instance->m_connection)
            .send(message.createErrorReply(QDBusError::InvalidArgs,
                                           QStringLiteral("not a command Pinlark can take")));
    }

    SingleInstance* m_instance;
};

// The running copy's status for a later launch, on an interface of our own.
class StatusAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.pinlark.Status")
public:
    explicit StatusAdaptor(SingleInstance* instance)
        : QDBusAbstractAdaptor(instance)
        , m_instance(instance) {}

public Q_SLOTS:
    QString Status(const QDBusMessage& message) {
        message.setDelayedReply(true);
        reply(m_instance, message);
        return {};
    }

private:
    static QCoro::Task<> reply(QPointer<SingleInstance> instance, QDBusMessage message) {
        // Not a co_await inside a conditional expression: GCC 12 miscompiles those.
        QString text;
        if (instance && instance->status)
            text = co_await instance->status();
        if (instance)
            QDBusConnection(instance->m_connection).send(message.createReply(text));
    }

    SingleInstance* m_instance;
};

SingleInstance::SingleInstance(QString name, Channel channel, QObject* parent)
    : QObject(parent)
    , m_name(std::move(name))
    , m_channel(channel) {
    if (m_channel == Channel::Socket)
        return;
    // A connection of our own: dropping it gives the name up at once.
    m_connection = QStringLiteral("pinlark-single-instance-%1")
                       .arg(QRandomGenerator::global()->generate64(), 0, 16);
    const QDBusConnection bus =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_connection);
    if (m_channel == Channel::Automatic)
        m_channel = bus.isConnected() ? Channel::Bus : Channel::Socket;
}

SingleInstance::~SingleInstance() {
    if (!m_connection.isEmpty())
        QDBusConnection::disconnectFromBus(m_connection);
}

QString SingleInstance::socketPath(const QString& name) {
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QLatin1Char('/') +
           name + QLatin1String(".socket");
}

bool SingleInstance::listen() {
    return m_channel == Channel::Bus ? listenOnBus() : listenOnSocket();
}

bool SingleInstance::listenOnBus() {
    QDBusConnection bus(m_connection);
    if (!bus.isConnected()) {
        logLine(QStringLiteral("[Pinlark] no session bus: later launches start copies of "
                               "their own"));
        return true;
    }
    // The object first: a launch that finds the name finds it answering.
    new ApplicationAdaptor(this);
    new StatusAdaptor(this);
    bus.registerObject(objectPath(m_name), this, QDBusConnection::ExportAdaptors);
    const auto reply =
        bus.interface()->registerService(m_name, QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid()) {
        logLine(QStringLiteral("[Pinlark] can't own %1 on the session bus: %2")
                    .arg(m_name, reply.error().message()));
        return true;
    }
    if (reply.value() != QDBusConnectionInterface::ServiceRegistered)
        return false;
    // The socket too: a launch that can't reach the bus (another session's environment, a bus
    // that went away) finds this copy there, and a copy that started without the bus is found
    // there by this one.
    if (listenOnSocket())
        return true;
    bus.interface()->unregisterService(m_name);
    bus.unregisterObject(objectPath(m_name));
    m_channel = Channel::Socket;
    return false;
}

bool SingleInstance::listenOnSocket() {
    const QString path = socketPath(m_name);
    // Two launches at once: one decides at a time.
    QLockFile lock(path + QLatin1String(".lock"));
    lock.tryLock(sendTimeoutMs);
    {
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(sendTimeoutMs))
            return false;
    }
    // Nobody answers: what is left there is a copy's that ended without cleaning up.
    QLocalServer::removeServer(path);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(path)) {
        logLine(
            QStringLiteral("[Pinlark] can't listen at %1: %2").arg(path, m_server->errorString()));
        return true;
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection())
            serve(socket);
    });
    return true;
}

void SingleInstance::serve(QLocalSocket* socket) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    // A launch that says nothing is dropped after a while.
    std::shared_ptr<Clock::Timer> timeout =
        Platform::clock().startTimer(socketTimeout, false, [socket] { socket->abort(); });
    connect(socket, &QLocalSocket::readyRead, socket, [this, socket, timeout]() mutable {
        if (!socket->canReadLine()) {
            if (socket->bytesAvailable() > maxLine)
                socket->abort();
            return;
        }
        const QByteArray line = socket->readLine(maxLine + 1).trimmed();
        timeout.reset();
        if (line == "status") {
            answerStatus(socket);
            return;
        }
        const bool taken = deliver(decode(QString::fromUtf8(line)));
        socket->write(taken ? "ok\n" : "refused\n");
        socket->disconnectFromServer();
    });
}

QCoro::Task<> SingleInstance::answerStatus(QPointer<QLocalSocket> socket) {
    QString text;
    if (status)
        text = co_await status();
    if (!socket)
        co_return;
    // One line back: the lines of the status joined by a character they never hold.
    socket->write(QString(text).replace(QLatin1Char('\n'), QChar(0x1e)).toUtf8() + '\n');
    socket->disconnectFromServer();
}

std::optional<QString> SingleInstance::queryStatus() {
    if (m_channel == Channel::Bus) {
        const QDBusMessage reply =
            QDBusConnection(m_connection)
                .call(QDBusMessage::createMethodCall(m_name, objectPath(m_name),
                                                     QStringLiteral("app.pinlark.Status"),
                                                     QStringLiteral("Status")),
                      QDBus::Block, sendTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return std::nullopt;
        return reply.arguments().constFirst().toString();
    }
    QLocalSocket socket;
    socket.connectToServer(socketPath(m_name));
    if (!socket.waitForConnected(sendTimeoutMs))
        return std::nullopt;
    socket.write("status\n");
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(sendTimeoutMs))
            return std::nullopt;
    }
    return QString::fromUtf8(socket.readLine().chopped(1)).replace(QChar(0x1e), QLatin1Char('\n'));
}

SingleInstance::Sent SingleInstance::send(const Command& command) {
    if (m_channel == Channel::Bus) {
        const QString path = objectPath(m_name);
        QDBusMessage call;
        switch (command.kind) {
        case Command::Kind::Reopen:
            call = QDBusMessage::createMethodCall(m_name, path, applicationInterface,
                                                  QStringLiteral("Activate"));
            call << QVariantMap();
            break;
        case Command::Kind::Save:
            if (command.clipboard) {
                call = QDBusMessage::createMethodCall(m_name, path, applicationInterface,
                                                      QStringLiteral("ActivateAction"));
                call << QString(saveClipboard) << QVariantList() << QVariantMap();
                break;
            }
            call = QDBusMessage::createMethodCall(m_name, path, applicationInterface,
                                                  QStringLiteral("Open"));
            call << encodedLinks(command) << QVariantMap();
            break;
        case Command::Kind::QuickSave:
        case Command::Kind::ToggleLibrary:
            call = QDBusMessage::createMethodCall(m_name, path, applicationInterface,
                                                  QStringLiteral("ActivateAction"));
            call << nameOf(command.kind) << QVariantList() << QVariantMap();
            break;
        }
        const QDBusMessage reply =
            QDBusConnection(m_connection).call(call, QDBus::Block, sendTimeoutMs);
        if (reply.type() == QDBusMessage::ReplyMessage)
            return Sent::Taken;
        return reply.errorName() == QDBusError::errorString(QDBusError::InvalidArgs)
                   ? Sent::Refused
                   : Sent::NoAnswer;
    }
    QLocalSocket socket;
    socket.connectToServer(socketPath(m_name));
    if (!socket.waitForConnected(sendTimeoutMs))
        return Sent::NoAnswer;
    socket.write(encode(command).toUtf8() + '\n');
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(sendTimeoutMs))
            return Sent::NoAnswer;
    }
    const QByteArray answer = socket.readLine().trimmed();
    return answer == "ok" ? Sent::Taken : answer == "refused" ? Sent::Refused : Sent::NoAnswer;
}

bool SingleInstance::deliver(const std::optional<Command>& command) {
    if (!command) {
        logLine(QStringLiteral("[Pinlark] ignored a command from another launch that it can't "
                               "take"));
        return false;
    }
    Q_EMIT commandReceived(*command);
    return true;
}

} // namespace pinlark

#include "SingleInstance.moc"
