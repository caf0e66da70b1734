#include "platform/linux/SealCodeSignature.h"

namespace pinlark {

bool SealCodeSignature::createStaticCode(const QString& bundlePath) {
    return Seal::exists(bundlePath);
}

bool SealCodeSignature::checkValidity(const QString& bundlePath, unsigned checks) {
    return Seal::check(bundlePath, checks & CheckNestedCode, m_trusted);
}

} // namespace pinlark
