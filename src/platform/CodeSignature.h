#pragma once

#include <QString>

namespace pinlark {

// The code signature of an application bundle.
class CodeSignature {
public:
    // Options of the validity check.
    enum Check : unsigned { CheckAllArchitectures = 1, CheckNestedCode = 8 };

    virtual ~CodeSignature() = default;
    // Whether a static code object can be made for the bundle: it carries a signature at all.
    virtual bool createStaticCode(const QString& bundlePath) = 0;
    // Whether the bundle's signature is intact under `checks` (a combination of Check values).
    virtual bool checkValidity(const QString& bundlePath, unsigned checks) = 0;
};

} // namespace pinlark
