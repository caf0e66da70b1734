#include "platform/linux/LinuxPlatform.h"

#include "platform/Platform.h"
#include "platform/linux/AutostartLoginItemService.h"
#include "platform/linux/BrowserWorkspace.h"
#include "platform/linux/FileUserDefaults.h"
#include "platform/linux/FreedesktopNotificationCenter.h"
#include "platform/linux/PortalHotKeyService.h"
#include "platform/linux/SealCodeSignature.h"
#include "platform/linux/X11HotKeyService.h"
#include "platform/qt/DesktopServices.h"
#include "platform/qt/SystemClock.h"
#include "platform/qt/WebEngineCookieStore.h"

#include <QGuiApplication>

namespace pinlark {

namespace {

// The global shortcut for an application on the Qt windowing platform `platformName`: through
// the desktop portal for a Wayland client whose session bus offers it, else the X11 grab.
std::unique_ptr<HotKeyService> hotKeyServiceFor(const QString& platformName) {
    if (platformName.startsWith(QLatin1String("wayland")) && PortalHotKeyService::offered())
        return std::make_unique<PortalHotKeyService>();
    return std::make_unique<X11HotKeyService>();
}

} // namespace

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
    s.hotKeys = hotKeyServiceFor(QGuiApplication::platformName());
    s.loginItems = std::make_unique<AutostartLoginItemService>();
    s.codeSignature = std::make_unique<SealCodeSignature>();
    s.notifications = std::make_unique<FreedesktopNotificationCenter>();
    Platform::install(std::move(s));
}

} // namespace pinlark
