#pragma once

#include "platform/CodeSignature.h"

namespace pinlark {

// Code signatures as bundle seals (Seal.h): a bundle without a seal or its signature has no
// static code; a valid one is signed by the publisher (the key built into the app) and exactly as
// sealed, nested bundles too when asked.
class SealCodeSignature : public CodeSignature {
public:
    bool createStaticCode(const QString& bundlePath) override;
    bool checkValidity(const QString& bundlePath, unsigned checks) override;
};

} // namespace pinlark
