#include "platform/qt/SystemClock.h"

#include <QTimer>

namespace pinlark {

namespace {
class QtTimer : public Clock::Timer {
public:
    QtTimer(Clock::Duration interval, bool repeating, std::function<void()> fire)
        : m_timer(new QTimer) {
        m_timer->setTimerType(Qt::PreciseTimer);
        m_timer->setSingleShot(!repeating);
        m_timer->setInterval(
            std::chrono::ceil<std::chrono::milliseconds>(std::max(interval, Clock::Duration(0))));
        QObject::connect(m_timer, &QTimer::timeout, m_timer, std::move(fire));
        m_timer->start();
    }
    // The timer may be stopped from inside its own callback: delete it once that has returned.
    ~QtTimer() override {
        m_timer->stop();
        m_timer->deleteLater();
    }

private:
    QTimer* m_timer;
};
} // namespace

std::unique_ptr<Clock::Timer> SystemClock::startTimer(Duration interval, bool repeating,
                                                      std::function<void()> fire) {
    return std::make_unique<QtTimer>(interval, repeating, std::move(fire));
}

} // namespace pinlark
