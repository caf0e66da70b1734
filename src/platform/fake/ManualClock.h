#pragma once

#include "platform/Clock.h"

#include <map>
#include <memory>

namespace pinlark {

// A clock for tests: time stands still until advance() moves it, firing due timers and waking
// due sleeps in order of their due time (then of their start), each at its own instant.
class ManualClock : public Clock {
public:
    ManualClock();

    TimePoint now() const override { return m_now; }
    // 2030-01-01 00:00 UTC at the start, moving with now().
    QDateTime currentUtc() const override;
    std::unique_ptr<Timer> startTimer(Duration interval, bool repeating,
                                      std::function<void()> fire) override;

    void advance(Duration duration);
    // Timers and sleeps waiting to fire.
    int pendingCount() const { return int(m_entries.size()); }

private:
    struct Entry {
        Duration interval;
        bool repeating;
        std::function<void()> fire;
    };
    class ManualTimer;

    TimePoint m_now;
    quint64 m_nextSequence = 0;
    // Keyed by (due time, start order), so equal due times fire in the order they started.
    std::map<std::pair<TimePoint, quint64>, std::shared_ptr<Entry>> m_entries;
};

} // namespace pinlark
