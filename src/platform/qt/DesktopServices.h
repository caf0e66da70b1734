#pragma once

#include "platform/ActivationPolicy.h"
#include "platform/Alerts.h"
#include "platform/Bundle.h"
#include "platform/Pasteboard.h"
#include "platform/Workspace.h"

namespace pinlark {

// Opens URLs through the desktop's default handlers.
class DesktopWorkspace : public Workspace {
protected:
    QCoro::Task<bool> openExternally(QUrl url) override;
};

// The clipboard's plain text.
class ClipboardPasteboard : public Pasteboard {
public:
    std::optional<QString> string() const override;
    void setString(const QString& text) override;
};

class MessageBoxAlerts : public Alerts {
public:
    int run(const Alert& alert) override;
};

// The bundle that holds the executable: "X.app" for ".../X.app/Contents/MacOS/<exe>", else the
// executable's folder. Its identifier and information dictionary come from the bundle's
// Contents/Info.plist, read at every call; without one the dictionary is empty and there is no
// identifier.
class ExecutableBundle : public Bundle {
public:
    QString path() const override;
    QString executablePath() const override;
    std::optional<QString> identifier() const override;
    QVariantMap info() const override;
};

// Without a Dock the policy is only recorded; activation raises the app's windows.
class RecordedActivationPolicy : public ActivationPolicy {
public:
    void setPolicy(Policy policy) override { m_policy = policy; }
    Policy policy() const override { return m_policy; }
    void activate() override;
    bool isActive() const override;

private:
    Policy m_policy = Policy::Accessory;
};

} // namespace pinlark
