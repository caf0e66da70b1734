#pragma once

#include <QString>
#include <QStringView>

namespace pinlark {

// Whether `host` is `domain` or one of its subdomains: it equals the domain, or ends with "."
// followed by it. Exact and case-sensitive.
bool hostIsInDomain(QStringView host, QStringView domain);

} // namespace pinlark
