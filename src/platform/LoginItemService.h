#pragma once

namespace pinlark {

// The system's open-at-login registration of the main app.
class LoginItemService {
public:
    enum class Status { NotRegistered = 0, Enabled = 1, RequiresApproval = 2, NotFound = 3 };

    virtual ~LoginItemService() = default;
    virtual Status status() const = 0;
    // Both throw a PlatformError with the system's description when they fail.
    virtual void registerApp() = 0;
    virtual void unregisterApp() = 0;
};

} // namespace pinlark
