#include "platform/Error.h"

namespace pinlark {

const char* Error::what() const noexcept {
    m_what = localizedDescription().toUtf8();
    return m_what.constData();
}

} // namespace pinlark
