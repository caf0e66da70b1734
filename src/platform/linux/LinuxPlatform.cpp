#include "platform/linux/LinuxPlatform.h"

#include "platform/Platform.h"
#include "platform/linux/AutostartLoginItemService.h"
#include "platform/linux/BrowserWorkspace.h"
#include "platform/linux/FileUserDefaults.h"
#include "platform/linux/X11HotKeyService.h"
#include "platform/qt/DesktopServices.h"
#include "platform/qt/SystemClock.h"
#include "platform/qt/WebEngineCookieStore.h"

namespace pinlark {

void LinuxPlatform::install() {
    Platform::Services s;
    s.defaults = std::make_unique<FileUserDefaults>(FileUserDefaults::standardPath());
    s.cookieStore = std::make_unique<WebEngineCookieStore>();
    s.clock = std::make_unique<SystemClock>();
    s.workspace = std::make_unique<BrowserWorkspace>();
    s.pasteboard = std::make_unique<ClipboardPasteboard>();
    s.alerts = std::make_unique<MessageBoxAlerts>();
    s.bundle = std::make_unique<ExecutableBundle>();
    s.activationPolicy = std::make_unique<RecordedActivationPolicy>();
    s.hotKeys = std::make_unique<X11HotKeyService>();
    s.loginItems = std::make_unique<AutostartLoginItemService>();
    Platform::install(std::move(s));
}

} // namespace pinlark
