#pragma once

#include "platform/fake/FakePlatform.h"

#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <QNetworkCookie>
#include <QProcess>
#include <QEventLoop>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

// The tests spell strings as u"..."_s and "..."_L1.
using namespace Qt::StringLiterals;

namespace pinlark {

// Makes the calling process die when its parent does. Every test calls it as it starts, and
// the processes the test support starts call it in the child.
void diesWithParent();

// Resets the process-wide state of every subsystem, so each test starts clean. Classes with
// such state name this struct their friend.
struct TestState {
    static void reset();
};

// A temporary home: XDG_CONFIG_HOME, XDG_DATA_HOME and XDG_CACHE_HOME point into a new
// temporary folder while it lives.
class TestHome {
public:
    TestHome();
    ~TestHome();
    QString path() const { return m_dir.path(); }
    QString config() const { return m_dir.path() + u"/config"_s; }
    QString data() const { return m_dir.path() + u"/data"_s; }

private:
    QTemporaryDir m_dir;
    QByteArray m_saved[3];
};

// The service's session cookie carrying `token`, for the host of the origin in use.
QNetworkCookie sessionCookie(const QByteArray& token);
// Starts in `bus` a session bus of the test's own, with its socket in `folder`, makes it the
// session bus of this process and gives its address ("" when it did not start).
QByteArray startSessionBus(QProcess& bus, const QString& folder);

// Writes `bytes` to `path` with permissions `mode`, making its folders; false on failure.
bool writeFile(const QString& path, const QByteArray& bytes, int mode = 0644);
// What `path` holds, or nothing when it can't be read.
QByteArray readFile(const QString& path);
// The links an outbox file at `path` holds waiting, oldest first, as the outbox reads them; a
// file it can't read gives "unreadable: <why>".
QStringList waitingLinks(const QString& path);
// Makes `app` a bundle whose Info.plist names `version` and `identifier`.
bool writeInfoPlist(const QString& app, const QString& version,
                    const QString& identifier = QStringLiteral("app.pinlark.Pinlark"));
// Writes a new Ed25519 private key (PEM), one no build trusts, to `path`; false on failure.
bool writeSigningKey(const QString& path);

// Runs `run` as the main() of a test of the web engine would: in a temporary home of its own
// that outlives the application, with the engine's HTTP cache in memory and the library window
// linked in. The cache is not under
// test, and the engine writes it to disk after the application, even main(), has ended.
int runWebEngineTest(int argc, char** argv, const std::function<int(int, char**)>& run);

#define PINLARK_WEBENGINE_TEST_MAIN(TestObject)                                                    \
    int main(int argc, char** argv) {                                                              \
        return pinlark::runWebEngineTest(argc, argv, [](int c, char** v) {                         \
            TestObject test;                                                                       \
            return QTest::qExec(&test, c, v);                                                      \
        });                                                                                        \
    }

// Runs the event loop until `task` finishes or `timeout` passes (a watchdog, not a timing
// assertion). Gives the task's result; rethrows what the task threw; fails the test on
// time-out by throwing std::runtime_error. A task abandoned by the watchdog may still finish
// later: what it reaches of this call lives on the heap, and its loop is gone by then.
template <typename T>
T runTask(QCoro::Task<T> task, std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    struct State {
        std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> result;
        std::exception_ptr error;
        bool finished = false;
        QPointer<QEventLoop> loop;
    };
    const auto state = std::make_shared<State>();
    QEventLoop loop;
    state->loop = &loop;
    // Everything the coroutine uses is a parameter, so it lives in the coroutine's own frame.
    auto wrapper = [](std::shared_ptr<State> state, QCoro::Task<T> task) -> QCoro::Task<> {
        try {
            if constexpr (std::is_void_v<T>) {
                co_await std::move(task);
                state->result = true;
            } else {
                state->result = co_await std::move(task);
            }
        } catch (...) {
            state->error = std::current_exception();
        }
        state->finished = true;
        if (state->loop)
            state->loop->quit();
    };
    auto running = wrapper(state, std::move(task));
    if (!state->finished) {
        QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (state->error)
        std::rethrow_exception(state->error);
    if (!state->finished)
        throw std::runtime_error("task did not finish before the watchdog fired");
    if constexpr (!std::is_void_v<T>)
        return std::move(*state->result);
}

} // namespace pinlark
