#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace pinlark {

// A modal alert: a message, an informative text, and buttons, the first one that loses nothing
// the default.
struct Alert {
    QString message;
    QString informativeText;
    QStringList buttons;
    // The button that throws something away or changes what the user has: drawn as such, never
    // the default, never what Escape presses.
    std::optional<int> destructive = std::nullopt;
    bool operator==(const Alert&) const = default;
};

class Alerts {
public:
    // What run() gives when the alert ends without a button pressed: Escape, the window closed,
    // the app quitting while it was open. No caller reads it as any button's yes.
    static constexpr int noAnswer = -1;

    virtual ~Alerts() = default;
    // Brings the app to the front, shows the alert modally and gives the index of the button
    // the user chose (0 for the first), or noAnswer.
    virtual int run(const Alert& alert) = 0;
};

} // namespace pinlark
