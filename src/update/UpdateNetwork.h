#pragma once

#include <QNetworkReply>

class QNetworkAccessManager;

namespace pinlark {

// The network manager of the updater: made on first use on the main thread and kept until the
// application object goes, so connections are reused.
QNetworkAccessManager& updateNetwork();

// Whether `reply` ended without a complete HTTP answer (no status, or the transfer failed);
// statuses that Qt reports as errors (404, 500) are answers.
bool isTransportFailure(const QNetworkReply& reply);

// The platform error for a reply that failed in transport. `timedOut` tells an inactivity
// time-out apart from other aborts, which Qt reports alike.
[[noreturn]] void throwTransportError(const QNetworkReply& reply, bool timedOut);

} // namespace pinlark
