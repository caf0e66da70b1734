#pragma once

#include "platform/HotKeyService.h"

#include <QAbstractNativeEventFilter>

#include <cstdint>
#include <memory>

namespace pinlark {

// Grabs Alt+Super+L on the X11 root window of every screen, also under the Caps Lock and
// Num Lock variants, and reports presses through a native event filter: the first press of a
// hold only, not the key's auto-repeat. Without an X11 connection (another Qt platform, Wayland
// without XWayland) registration fails.
class X11HotKeyService : public HotKeyService, private QAbstractNativeEventFilter {
public:
    X11HotKeyService();
    ~X11HotKeyService() override;

    bool registerHotKey(std::function<void()> pressed) override;
    QString name() const override { return QStringLiteral("the X11 key grab"); }
    // Alt+Super+L as the platform writes it, while grabbed.
    QString trigger() const override;

private:
    struct Grab;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
    void ungrab();

    std::function<void()> m_pressed;
    std::unique_ptr<Grab> m_grab;
};

} // namespace pinlark
