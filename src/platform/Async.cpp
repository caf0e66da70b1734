#include "platform/Async.h"

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
    m_state->cancelled = true;
    // A callback may resume a coroutine that drops its subscription: take them out first.
    auto callbacks = std::exchange(m_state->callbacks, {});
    for (auto& [id, callback] : callbacks)
        callback();
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

CancelToken::Subscription::~Subscription() {
    if (auto state = m_state.lock())
        state->callbacks.erase(m_id);
}

} // namespace pinlark
