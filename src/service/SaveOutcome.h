#pragma once

#include <QString>

namespace pinlark {

// What a save gives its caller: the saved item's id, and whether the link was already in the
// user's library.
struct SaveOutcome {
    QString id;
    bool existing = false;

    bool operator==(const SaveOutcome&) const = default;
};

} // namespace pinlark
