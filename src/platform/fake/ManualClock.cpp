#include "platform/fake/ManualClock.h"

namespace pinlark {

class ManualClock::ManualTimer : public Clock::Timer {
public:
    ManualTimer(ManualClock* clock, std::shared_ptr<Entry> entry)
        : m_clock(clock)
        , m_entry(std::move(entry)) {}
    ~ManualTimer() override {
        std::erase_if(m_clock->m_entries, [&](const auto& item) { return item.second == m_entry; });
    }

private:
    ManualClock* m_clock;
    std::shared_ptr<Entry> m_entry;
};

ManualClock::ManualClock()
    : m_now(TimePoint{} + std::chrono::hours(1000)) {}

QDateTime ManualClock::currentUtc() const {
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        m_now - (TimePoint{} + std::chrono::hours(1000)));
    return QDateTime(QDate(2030, 1, 1), QTime(0, 0), Qt::UTC).addMSecs(elapsed.count());
}

std::unique_ptr<Clock::Timer> ManualClock::startTimer(Duration interval, bool repeating,
                                                      std::function<void()> fire) {
    auto entry = std::make_shared<Entry>(Entry{interval, repeating, std::move(fire)});
    m_entries.emplace(std::pair(m_now + interval, m_nextSequence++), entry);
    return std::make_unique<ManualTimer>(this, entry);
}

void ManualClock::advance(Duration duration) {
    const TimePoint target = m_now + duration;
    while (!m_entries.empty() && m_entries.begin()->first.first <= target) {
        auto node = m_entries.extract(m_entries.begin());
        m_now = std::max(m_now, node.key().first);
        auto entry = node.mapped();
        if (entry->repeating)
            m_entries.emplace(
                std::pair(m_now + std::max(entry->interval, Duration(1)), m_nextSequence++), entry);
        // The callback may stop this very timer or start new ones; it holds its own copy.
        auto fire = entry->fire;
        fire();
    }
    m_now = target;
}

} // namespace pinlark
