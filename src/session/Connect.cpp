#include "session/Connect.h"

#include "library/LibraryWindow.h"
#include "platform/Error.h"
#include "platform/Platform.h"
#include "service/Config.h"
#include "session/LoopbackListener.h"

#include <QHostAddress>

#include <algorithm>

#include <array>
#include <cerrno>
#include <unistd.h>

namespace pinlark {

namespace {
const char couldNotStart[] = "Couldn't start the sign-in";
constexpr auto cookieLifetime = std::chrono::seconds(2592000);

bool isControlOrSpace(char16_t c) {
    return c <= 0x20 || c == 0x7f;
}

// A cookie name: not empty; no control characters, white space, ";", ",", '"' or "=".
bool isCookieName(const QString& name) {
    return !name.isEmpty() && std::none_of(name.begin(), name.end(), [](QChar c) {
        return isControlOrSpace(c.unicode()) || QStringView(u";,\"=").contains(c);
    });
}

// A cookie value: no control characters, white space, ";", ",", or '"' except one pair around
// the whole value.
bool isCookieValue(QStringView value) {
    if (value.size() >= 2 && value.front() == u'"' && value.back() == u'"')
        value = value.sliced(1, value.size() - 2);
    return std::none_of(value.begin(), value.end(), [](QChar c) {
        return isControlOrSpace(c.unicode()) || QStringView(u";,\"").contains(c);
    });
}
} // namespace

void Connect::begin() {
    if (s_isRunning)
        return;
    try {
        startListener(randomState());
    } catch (const Error& error) {
        alert(QLatin1String(couldNotStart), error.localizedDescription());
        return;
    }
    s_isRunning = true;
}

QString Connect::randomState() {
    std::array<std::byte, 32> bytes{};
    // A state anyone could guess would let any page forge the hand-back: no sign-in without one.
    if (!s_randomSource(bytes))
        throw PlatformError(QStringLiteral("The system's source of random numbers failed."));
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()))
            .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

bool Connect::systemRandom(std::span<std::byte> buffer) {
    return ::getentropy(buffer.data(), buffer.size()) == 0;
}

void Connect::startListener(const QString& state) {
    auto* listener = new LoopbackListener(
        [state](const QString& head, const QByteArray& body, LoopbackConnection& connection) {
            handle(
                head, body, [&connection](const QByteArray& r) { connection.respond(r); }, state);
        });
    if (!listener->listen(QHostAddress(QHostAddress::LocalHost), 0)) {
        const QString description = listener->errorString();
        delete listener;
        throw PlatformError(description);
    }
    QObject::connect(listener, &QTcpServer::acceptError, listener,
                     [listener] { listenerFailed(listener); });
    s_listener = listener;
    // Ready: reported once begin() has returned, as the listener's own state changes are.
    QMetaObject::invokeMethod(
        listener,
        [listener, state] {
            if (s_isRunning && s_listener == listener && listener->serverPort() != 0)
                opened(listener->serverPort(), state);
        },
        Qt::QueuedConnection);
}

void Connect::listenerFailed(LoopbackListener* listener) {
    const QString description = listener->errorString();
    stop();
    alert(QLatin1String(couldNotStart), description);
}

void Connect::opened(quint16 port, const QString& state) {
    CancelToken token;
    s_timeoutTask = token;
    runTimeout(token);
    openBrowser(
        Config::api(QStringLiteral("connect/mac"), {{QStringLiteral("port"), QString::number(port)},
                                                    {QStringLiteral("state"), state}}),
        token);
}

QCoro::Task<> Connect::openBrowser(QUrl url, CancelToken token) {
    const bool opened = co_await Platform::workspace().open(url);
    // A flow that ended meanwhile (stopping cancels its token) is not this one's to end.
    if (opened || token.isCancelled() || !s_isRunning)
        co_return;
    stop();
    alert(QLatin1String(couldNotStart),
          QStringLiteral("Pinlark couldn't open your web browser. Set a default browser for "
                         "web links, then choose Sign In again."));
}

QCoro::Task<> Connect::runTimeout(CancelToken token) {
    co_await Platform::clock().sleep(timeout, token);
    // A cancelled time-out belongs to a flow that has ended; it must not end a newer one.
    if (token.isCancelled() || !s_isRunning)
        co_return;
    stop();
    alert(QStringLiteral("Sign-in timed out"),
          QStringLiteral("The link is good for five minutes. Choose Sign In again to get a "
                         "fresh one."));
}

void Connect::stop() {
    if (auto* listener = s_listener.data()) {
        s_listener = nullptr;
        listener->close();
        listener->deleteLater();
    }
    if (auto token = std::exchange(s_timeoutTask, std::nullopt))
        token->cancel();
    s_isRunning = false;
}

void Connect::handle(const QString& head, const QByteArray& body,
                     const std::function<void(const QByteArray&)>& respond, const QString& state) {
    const HandBack::Answer answer =
        HandBack::route(head, body, state, HandBack::acceptedOrigin(Config::origin().toString()));
    respond(HandBack::response(answer.status, answer.body, answer.corsOrigin));
    if (!answer.session)
        return;
    stop();
    adopt(answer.session->token, answer.session->cookieName, answer.session->secure);
}

void Connect::alert(const QString& message, const QString& informativeText) {
    Platform::alerts().run(Alert{message, informativeText, {QStringLiteral("OK")}});
}

std::optional<QNetworkCookie> Connect::sessionCookie(const QString& token,
                                                     const QString& cookieName, bool secure,
                                                     const QString& host, const QDateTime& now) {
    if (!isCookieName(cookieName) || !isCookieValue(token))
        return std::nullopt;
    QString domain = host;
    if (host.contains(u'.') && !host.startsWith(QLatin1String("localhost")))
        domain = u'.' + (host.startsWith(QLatin1String("www.")) ? host.mid(4) : host);
    QNetworkCookie cookie(cookieName.toUtf8(), token.toUtf8());
    cookie.setDomain(domain);
    cookie.setPath(QStringLiteral("/"));
    cookie.setExpirationDate(now.addSecs(cookieLifetime.count()));
    cookie.setSecure(secure);
    cookie.setHttpOnly(true);
    return cookie;
}

QCoro::Task<> Connect::adopt(QString token, QString cookieName, bool secure) {
    const QString host = Config::origin().host();
    if (host.isEmpty())
        co_return;
    const auto cookie =
        sessionCookie(token, cookieName, secure, host, QDateTime::currentDateTimeUtc());
    if (!cookie) {
        alert(QStringLiteral("Couldn't save the sign-in"),
              QStringLiteral("The session couldn't be stored. Try again."));
        co_return;
    }
    co_await insert(*cookie);
    if (onAdopted)
        onAdopted();
    LibraryWindow::load(LibraryWindow::homeURL());
    LibraryWindow::show();
}

QCoro::Task<> Connect::insert(QNetworkCookie cookie) {
    Completion<> done;
    Platform::cookieStore().setCookie(cookie, [done]() mutable { done(); });
    co_await done;
}

void Connect::resetForTests() {
    stop();
    onAdopted = {};
    LoopbackConnection::closeAll();
    s_randomSource = &Connect::systemRandom;
}

} // namespace pinlark
