#pragma once

#include "platform/Async.h"

#include <QCoro/QCoroTask>
#include <QDateTime>

#include <chrono>
#include <functional>
#include <memory>

namespace pinlark {

// The monotonic clock, its timers and sleeps. Production runs on Qt timers; tests use a manual
// clock whose time only moves when the test says so.
class Clock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Duration = std::chrono::steady_clock::duration;

    // A running timer; destroying it stops it.
    class Timer {
    public:
        virtual ~Timer() = default;
    };

    virtual ~Clock() = default;

    virtual TimePoint now() const = 0;
    // The calendar time, UTC, for what is written down with a date.
    virtual QDateTime currentUtc() const { return QDateTime::currentDateTimeUtc(); }

    // Calls `fire` once `interval` has passed, and again every `interval` when repeating,
    // until the returned timer is destroyed. No tolerance: it fires as close as it can.
    [[nodiscard]] virtual std::unique_ptr<Timer> startTimer(Duration interval, bool repeating,
                                                            std::function<void()> fire) = 0;

    // Suspends until `deadline`, or until `token` is cancelled, whichever comes first; a
    // cancelled sleep wakes at once. Resumes exactly once, on the main thread. The caller
    // tells the two apart with token.isCancelled().
    QCoro::Task<> sleepUntil(TimePoint deadline, CancelToken token = {});
    QCoro::Task<> sleep(Duration duration, CancelToken token = {});
};

} // namespace pinlark
