#pragma once

#include "platform/Async.h"
#include "session/HandBack.h"

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QNetworkCookie>
#include <QPointer>
#include <QString>

#include <cstddef>
#include <functional>
#include <optional>
#include <span>

namespace pinlark {

class LoopbackListener;

// The browser sign-in: a short-lived listener on the loopback interface, the browser sent to
// the service's hand-off page with the listener's port and a random state value, and five
// minutes for that page to post the session back.
class Connect {
public:
    // Starts a sign-in unless one is running: no second listener, no second browser window.
    static void begin();
    // Ends the sign-in: closes the listener (connections already accepted finish on their own)
    // and cancels the time-out.
    static void stop();
    // Whether a sign-in is under way.
    static bool isRunning() { return s_isRunning; }

    // Makes the posted session the service's session cookie in the shared store, then calls
    // onAdopted and shows the saves in the library window.
    static QCoro::Task<> adopt(QString token, QString cookieName, bool secure);

    // Called once a sign-in has stored its session; holds its owner weakly.
    static inline std::function<void()> onAdopted;

    static constexpr auto timeout = std::chrono::seconds(300);

private:
    friend struct TestState;
    friend class TestConnect;
    friend class TestStatusItem;

    // Fills the buffer from the system's random source; false when the source failed.
    using RandomSource = std::function<bool(std::span<std::byte>)>;

    static QString randomState();
    static void startListener(const QString& state);
    static void opened(quint16 port, const QString& state);
    static void listenerFailed(LoopbackListener* listener);
    // Answers one complete request through `respond`; an accepted hand-back then ends the
    // flow and starts the adoption.
    static void handle(const QString& head, const QByteArray& body,
                       const std::function<void(const QByteArray&)>& respond, const QString& state);
    static QCoro::Task<> runTimeout(CancelToken token);
    // Sends the browser to `url`; where nothing could open it, ends the flow of `token` with an
    // alert.
    static QCoro::Task<> openBrowser(QUrl url, CancelToken token);
    static void alert(const QString& message, const QString& informativeText);

    // The session cookie for `host`, or none when the name or value is not one a cookie may
    // carry.
    static std::optional<QNetworkCookie> sessionCookie(const QString& token,
                                                       const QString& cookieName, bool secure,
                                                       const QString& host, const QDateTime& now);
    static QCoro::Task<> insert(QNetworkCookie cookie);

    static bool systemRandom(std::span<std::byte> buffer);
    static void resetForTests();

    static inline bool s_isRunning = false;
    static inline QPointer<LoopbackListener> s_listener;
    static inline std::optional<CancelToken> s_timeoutTask;
    static inline RandomSource s_randomSource = &Connect::systemRandom;
};

} // namespace pinlark
