#include "service/HostMatch.h"

namespace pinlark {

bool hostIsInDomain(QStringView host, QStringView domain) {
    if (host == domain)
        return true;
    return host.size() > domain.size() && host.endsWith(domain) &&
           host.at(host.size() - domain.size() - 1) == QLatin1Char('.');
}

} // namespace pinlark
