#include "platform/NotificationCenter.h"

namespace pinlark {

QCoro::Task<> NotificationCenter::addIfAllowed(NotificationRequest request) {
    const bool allowed = co_await requestAuthorization(Alert | Sound);
    if (allowed)
        add(request);
}

} // namespace pinlark
