#pragma once

#include <QCoreApplication>
#include <QString>
#include <QThread>

#include <coroutine>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <type_traits>
#include <variant>

#include <QCoro/QCoroTask>

namespace pinlark {

struct TokenState;

// Cooperative cancellation, shared by copies. Cancelling runs the registered callbacks once
// (aborting an in-flight reply, waking a sleep); the task checks isCancelled() after each await.
class CancelToken {
public:
    CancelToken();

    void cancel() const;
    bool isCancelled() const;

    // Keeps a callback registered while it lives. A callback registered on an already cancelled
    // token runs at once.
    class Subscription {
    public:
        Subscription() = default;
        Subscription(Subscription&&) noexcept = default;
        // Unregisters the callback held so far.
        Subscription& operator=(Subscription&& other) noexcept;
        ~Subscription();

    private:
        friend class CancelToken;
        Subscription(std::weak_ptr<TokenState> state, int id);
        void release();
        std::weak_ptr<TokenState> m_state;
        int m_id = 0;
    };
    [[nodiscard]] Subscription onCancel(std::function<void()> callback) const;

private:
    std::shared_ptr<TokenState> m_state;
};

// Turns a completion handler into one awaitable. Copies share one state: the first call of any
// copy resolves it and resumes the awaiting coroutine, on the main thread; later calls do
// nothing. A call from another thread hops to the main thread first.
template <typename T = void> class Completion {
    using Value = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

    struct State {
        bool resolved = false;
        std::optional<Value> value;
        std::coroutine_handle<> waiter;
    };

public:
    Completion()
        : m_state(std::make_shared<State>()) {}

    void operator()() requires std::is_void_v<T> { resolve(std::monostate{}); }
    template <typename U = T>
    requires(!std::is_void_v<T>) void operator()(U&& value) {
        resolve(Value(std::forward<U>(value)));
    }

    bool isResolved() const { return m_state->resolved; }

    bool await_ready() const noexcept { return m_state->resolved; }
    void await_suspend(std::coroutine_handle<> waiter) { m_state->waiter = waiter; }
    T await_resume() {
        if constexpr (!std::is_void_v<T>)
            return std::move(*m_state->value);
    }

private:
    void resolve(Value value) {
        auto* app = QCoreApplication::instance();
        if (app && QThread::currentThread() != app->thread()) {
            QMetaObject::invokeMethod(
                app, [self = *this, value = std::move(value)]() mutable { self.resolve(value); },
                Qt::QueuedConnection);
            return;
        }
        if (m_state->resolved)
            return;
        m_state->resolved = true;
        m_state->value = std::move(value);
        if (auto waiter = std::exchange(m_state->waiter, {}))
            waiter.resume();
    }

    std::shared_ptr<State> m_state;
};

// Starts `work` and lets it run to its end on the event loop; a failure is logged after `prefix`
// ("[updater] ").
QCoro::Task<> runDetached(std::function<QCoro::Task<>()> work, QString prefix);

} // namespace pinlark
