#pragma once

#include <QObject>

class QSocketNotifier;

namespace pinlark {

// SIGTERM (a logout, a service manager), SIGHUP (the terminal went) and SIGINT (Control-C) end
// the app through its normal quit path, as the menu's Quit does: the handler only writes the
// signal's number into a pipe, and the event loop, woken by it, exits with status 0.
class QuitSignals : public QObject {
    Q_OBJECT
public:
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

private:
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace pinlark
