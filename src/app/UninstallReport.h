#pragma once

#include <QString>

namespace pinlark {

// `pinlark --uninstall`: removes what the copy registered on the user's desktop and what Open at
// Login wrote, turns the Open at Login wish off, and gives a report for the terminal: what was
// removed, and what is left and where (preferences, the outbox's waiting links, web data).
// Throws PlatformError when a file could not be removed.
namespace UninstallReport {
QString uninstall();
} // namespace UninstallReport

} // namespace pinlark
