#include "platform/Platform.h"

#include <QtGlobal>

namespace pinlark {

namespace {
Platform::Services& installed() {
    static Platform::Services services;
    return services;
}

template <typename T> T& require(const std::unique_ptr<T>& service, const char* name) {
    if (!service)
        qFatal("platform service %s used before it was installed", name);
    return *service;
}
} // namespace

void Platform::install(Services services) {
    installed() = std::move(services);
}
void Platform::reset() {
    installed() = Services{};
}

UserDefaults& Platform::defaults() {
    return require(installed().defaults, "defaults");
}
CookieStore& Platform::cookieStore() {
    return require(installed().cookieStore, "cookieStore");
}
Clock& Platform::clock() {
    return require(installed().clock, "clock");
}
Workspace& Platform::workspace() {
    return require(installed().workspace, "workspace");
}
Pasteboard& Platform::pasteboard() {
    return require(installed().pasteboard, "pasteboard");
}
Alerts& Platform::alerts() {
    return require(installed().alerts, "alerts");
}
Bundle& Platform::bundle() {
    return require(installed().bundle, "bundle");
}
ActivationPolicy& Platform::activationPolicy() {
    return require(installed().activationPolicy, "activationPolicy");
}
HotKeyService& Platform::hotKeys() {
    return require(installed().hotKeys, "hotKeys");
}
LoginItemService& Platform::loginItems() {
    return require(installed().loginItems, "loginItems");
}

CodeSignature& Platform::codeSignature() {
    return require(installed().codeSignature, "codeSignature");
}

NotificationCenter& Platform::notifications() {
    return require(installed().notifications, "notifications");
}

} // namespace pinlark
