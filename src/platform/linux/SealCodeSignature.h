#pragma once

#include "PublisherKey.h"
#include "platform/CodeSignature.h"
#include "platform/linux/Seal.h"

namespace pinlark {

// Code signatures as bundle seals (Seal.h): a bundle without a seal or its signature has no
// static code; a valid one is signed by the key trusted, the publisher's (built into the app)
// unless another is given, and exactly as sealed, nested bundles too when asked.
class SealCodeSignature : public CodeSignature {
public:
    explicit SealCodeSignature(const Seal::PublicKey& trusted = Product::publisherKey)
        : m_trusted(trusted) {}
    bool createStaticCode(const QString& bundlePath) override;
    bool checkValidity(const QString& bundlePath, unsigned checks) override;

private:
    Seal::PublicKey m_trusted;
};

} // namespace pinlark
