#include "platform/fake/FakePlatform.h"

namespace pinlark {

namespace {
template <typename Service, typename Fake>
void fill(std::unique_ptr<Service>& slot, Fake*& out) {
    if (slot)
        return;
    auto p = std::make_unique<Fake>();
    out = p.get();
    slot = std::move(p);
}
} // namespace

FakePlatform FakePlatform::install(Platform::Services s) {
    FakePlatform f;
    fill(s.defaults, f.defaults);
    fill(s.cookieStore, f.cookieStore);
    fill(s.clock, f.clock);
    fill(s.workspace, f.workspace);
    fill(s.pasteboard, f.pasteboard);
    fill(s.alerts, f.alerts);
    fill(s.bundle, f.bundle);
    fill(s.activationPolicy, f.activationPolicy);
    fill(s.hotKeys, f.hotKeys);
    fill(s.loginItems, f.loginItems);
    fill(s.codeSignature, f.codeSignature);
    fill(s.notifications, f.notifications);
    Platform::install(std::move(s));
    return f;
}

} // namespace pinlark
