#pragma once

#include <QString>
#include <QVariantMap>

#include <optional>

namespace pinlark {

// The application bundle the running executable belongs to.
class Bundle {
public:
    virtual ~Bundle() = default;
    // The bundle folder ("…/Pinlark.app"); for an executable outside a bundle, its folder.
    virtual QString path() const = 0;
    // The running executable.
    virtual QString executablePath() const = 0;
    virtual std::optional<QString> identifier() const = 0;
    // The information dictionary (Info.plist); empty when the bundle has none.
    virtual QVariantMap info() const = 0;
};

} // namespace pinlark
