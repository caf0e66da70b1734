#pragma once

#include "service/SaveRow.h"

#include <QString>

#include <variant>

namespace pinlark {

// Where the current or last save of the quick-save panel stands.
namespace phase {
struct Idle {
    bool operator==(const Idle&) const = default;
};
struct Saving {
    bool operator==(const Saving&) const = default;
};
// The service accepted the link: the newest known state of the saved item, and whether the
// service said the link was already in the library.
struct Done {
    SaveRow row;
    bool existing = false;
    bool operator==(const Done&) const = default;
};
struct Failed {
    QString message;
    bool operator==(const Failed&) const = default;
};
struct SignedOut {
    bool operator==(const SignedOut&) const = default;
};
// The link waits in the outbox: the service could not be reached, or answered that it can't
// take it now, in its own words (`message`, empty otherwise).
struct Queued {
    QString message;
    bool operator==(const Queued&) const = default;
};
// Several links saved at once, one after the other: how many there are, and what became of
// those done so far. Running until each has an answer or the save stops.
struct Many {
    int total = 0;
    int saved = 0;
    int existing = 0;
    int queued = 0;   // waiting in the outbox for the connection or a sign-in
    int failed = 0;   // refused by the service
    QString failure;  // the service's message on the first link it refused
    bool running = true;
    // Stopped: signed out, the links wait for a sign-in.
    bool signedOut = false;
    int answered() const { return saved + existing + queued + failed; }
    // "2 of 3 saved…" while running; else the summary ("3 saved", "2 saved, 1 already in your
    // library", "1 couldn't be saved: …").
    QString line() const;
    bool operator==(const Many&) const = default;
};
} // namespace phase

// Value equality: the same case with equal payloads.
using Phase = std::variant<phase::Idle, phase::Saving, phase::Done, phase::Failed, phase::SignedOut,
                           phase::Queued, phase::Many>;

} // namespace pinlark
