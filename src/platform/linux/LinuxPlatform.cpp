#include "platform/linux/LinuxPlatform.h"

#include "platform/Desktop.h"
#include "platform/Platform.h"
#include "platform/linux/AutostartLoginItemService.h"
#include "platform/linux/BrowserWorkspace.h"
#include "platform/linux/FileUserDefaults.h"
#include "platform/linux/FreedesktopNotificationCenter.h"
#include "platform/linux/GnomeShortcuts.h"
#include "platform/linux/PortalHotKeyService.h"
#include "platform/linux/SealCodeSignature.h"
#include "platform/linux/X11HotKeyService.h"
#include "platform/qt/DesktopServices.h"
#include "platform/qt/SystemClock.h"
#include "platform/qt/WebEngineCookieStore.h"

#include <QGuiApplication>

namespace pinlark {

namespace {

// Where neither an X server nor a desktop portal takes the shortcut: the desktop's own
// keyboard settings can still run Pinlark's commands.
class NoHotKeyService : public HotKeyService {
public:
    explicit NoHotKeyService(QString why)
        : m_why(std::move(why)) {}
    bool registerHotKey(std::function<void()>) override { return false; }
    QString name() const override { return QStringLiteral("none (%1)").arg(m_why); }
    QString trigger() const override { return {}; }

private:
    QString m_why;
};

} // namespace

std::unique_ptr<HotKeyService> LinuxPlatform::hotKeyServiceFor(const QString& platformName) {
    switch (Desktop::keyGrab(platformName)) {
    case Desktop::KeyGrab::X11:
        return std::make_unique<X11HotKeyService>();
    case Desktop::KeyGrab::Portal:
        return std::make_unique<PortalHotKeyService>();
    case Desktop::KeyGrab::None:
        break;
    }
    return std::make_unique<NoHotKeyService>(Desktop::whyNoKeyGrab(platformName));
}

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
    if (GnomeShortcuts::available())
        s.hotKeys = std::make_unique<GnomeHotKeyService>(
            std::move(s.hotKeys), s.bundle->executablePath(), s.bundle->path());
    s.loginItems = std::make_unique<AutostartLoginItemService>();
    s.codeSignature = std::make_unique<SealCodeSignature>();
    s.notifications = std::make_unique<FreedesktopNotificationCenter>();
    Platform::install(std::move(s));
}

} // namespace pinlark
