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
} // namespace phase

// Value equality: the same case with equal payloads.
using Phase = std::variant<phase::Idle, phase::Saving, phase::Done, phase::Failed, phase::SignedOut,
                           phase::Queued>;

} // namespace pinlark
