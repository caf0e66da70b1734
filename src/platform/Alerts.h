#pragma once

#include <QString>
#include <QStringList>

namespace pinlark {

// A modal alert: a message, an informative text, and buttons, the first one the default.
struct Alert {
    QString message;
    QString informativeText;
    QStringList buttons;
    bool operator==(const Alert&) const = default;
};

class Alerts {
public:
    virtual ~Alerts() = default;
    // Brings the app to the front, shows the alert modally and gives the index of the button
    // the user chose (0 for the first).
    virtual int run(const Alert& alert) = 0;
};

} // namespace pinlark
