#include "platform/Clock.h"

namespace pinlark {

QCoro::Task<> Clock::sleepUntil(TimePoint deadline, CancelToken token) {
    if (token.isCancelled())
        co_return;
    Completion<> woke;
    const auto wait = std::max(Duration::zero(), deadline - now());
    auto timer = startTimer(wait, false, [woke]() mutable { woke(); });
    auto subscription = token.onCancel([woke]() mutable { woke(); });
    co_await woke;
}

QCoro::Task<> Clock::sleep(Duration duration, CancelToken token) {
    return sleepUntil(now() + duration, std::move(token));
}

} // namespace pinlark
