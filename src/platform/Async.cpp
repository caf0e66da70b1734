#include "platform/Async.h"

#include "platform/Log.h"

#include <exception>

namespace pinlark {

struct TokenState {
    bool cancelled = false;
    int nextId = 1;
    std::map<int, std::function<void()>> callbacks;
};

CancelToken::CancelToken()
    : m_state(std::make_shared<TokenState>()) {}

void CancelToken::cancel() const {
    if (m_state->cancelled)
        return;
    // The callbacks may drop subscriptions, this token and its last other copy: run them one at
    // a time from the live registry, each taken out before it runs, with the state held here.
    const std::shared_ptr<TokenState> state = m_state;
    state->cancelled = true;
    while (!state->callbacks.empty()) {
        auto node = state->callbacks.extract(state->callbacks.begin());
        node.mapped()();
    }
}

bool CancelToken::isCancelled() const {
    return m_state->cancelled;
}

CancelToken::Subscription CancelToken::onCancel(std::function<void()> callback) const {
    if (m_state->cancelled) {
        callback();
        return {};
    }
    const int id = m_state->nextId++;
    m_state->callbacks.emplace(id, std::move(callback));
    return Subscription(m_state, id);
}

CancelToken::Subscription::Subscription(std::weak_ptr<TokenState> state, int id)
    : m_state(std::move(state))
    , m_id(id) {}

CancelToken::Subscription& CancelToken::Subscription::operator=(Subscription&& other) noexcept {
    if (this != &other) {
        release();
        m_state = std::move(other.m_state);
        m_id = std::exchange(other.m_id, 0);
    }
    return *this;
}

CancelToken::Subscription::~Subscription() {
    release();
}

void CancelToken::Subscription::release() {
    if (auto state = m_state.lock())
        state->callbacks.erase(m_id);
    m_state.reset();
}

QCoro::Task<> runDetached(std::function<QCoro::Task<>()> work, QString prefix) {
    try {
        co_await work();
    } catch (const std::exception& e) {
        logLine(prefix + QString::fromUtf8(e.what()));
    }
}

} // namespace pinlark
