#include "platform/linux/SealCodeSignature.h"

#include "PublisherKey.h"
#include "platform/linux/Seal.h"

namespace pinlark {

bool SealCodeSignature::createStaticCode(const QString& bundlePath) {
    return Seal::exists(bundlePath);
}

bool SealCodeSignature::checkValidity(const QString& bundlePath, unsigned checks) {
    return Seal::check(bundlePath, checks & CheckNestedCode, Product::publisherKey);
}

} // namespace pinlark
