#pragma once

namespace pinlark {

// Whether the app shows as a regular application (Dock icon, main menu) or as a menu-bar-only
// accessory, and whether it is the active application.
class ActivationPolicy {
public:
    enum class Policy { Regular = 0, Accessory = 1 };

    virtual ~ActivationPolicy() = default;
    virtual void setPolicy(Policy policy) = 0;
    virtual Policy policy() const = 0;
    // Makes the app the active application, ignoring other apps.
    virtual void activate() = 0;
    virtual bool isActive() const = 0;
};

} // namespace pinlark
