#include "update/Failure.h"

namespace pinlark {

QString Failure::localizedDescription() const {
    switch (m_kind) {
    case Kind::blocked:
        return m_first;
    case Kind::wrongVersion:
        return QStringLiteral("The download says it is %1, but %2 was expected.")
            .arg(m_second, m_first);
    case Kind::notAnUpgrade:
        return QStringLiteral("The download is version %1, which isn't newer.").arg(m_second);
    case Kind::deferred:
        return QStringLiteral("The update is waiting for a quieter moment.");
    case Kind::download:
        return QStringLiteral("The update couldn't be downloaded.");
    case Kind::corrupt:
        return QStringLiteral("The downloaded update didn't match its checksum.");
    case Kind::unpack:
        return QStringLiteral("The update couldn't be unpacked.");
    case Kind::brokenSignature:
        return QStringLiteral("The downloaded copy of Pinlark is damaged.");
    }
    return {};
}

} // namespace pinlark
