#pragma once

#include "platform/Clock.h"

namespace pinlark {

// The monotonic clock of the system, with precise Qt timers on the main thread.
class SystemClock : public Clock {
public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    std::unique_ptr<Timer> startTimer(Duration interval, bool repeating,
                                      std::function<void()> fire) override;
};

} // namespace pinlark
