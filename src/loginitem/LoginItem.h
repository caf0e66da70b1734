#pragma once

namespace pinlark {

// Keeps the system's open-at-login registration in line with the user's stored wish
// ("loginItemDesired"). Failures are logged and otherwise dropped: the user sees the system's
// state, never an error.
class LoginItem {
public:
    // At launch: registers again when the wish is true and the registration is not enabled
    // (a bundle replaced by an update can lose it). Never unregisters.
    static void reconcile();
    // Stores the wish first, whatever happens next, then registers or unregisters.
    static void set(bool on);

    static constexpr char desiredKey[] = "loginItemDesired";
};

} // namespace pinlark
