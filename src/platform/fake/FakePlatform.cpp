#include "platform/fake/FakePlatform.h"

namespace pinlark {

namespace {
template <typename T> std::unique_ptr<T> make(T*& out) {
    auto p = std::make_unique<T>();
    out = p.get();
    return p;
}
} // namespace

FakePlatform FakePlatform::install(const std::function<void(Platform::Services&)>& adjust) {
    FakePlatform f;
    Platform::Services s;
    s.defaults = make(f.defaults);
    s.cookieStore = make(f.cookieStore);
    s.clock = make(f.clock);
    s.workspace = make(f.workspace);
    s.pasteboard = make(f.pasteboard);
    s.alerts = make(f.alerts);
    s.bundle = make(f.bundle);
    s.activationPolicy = make(f.activationPolicy);
    s.hotKeys = make(f.hotKeys);
    s.loginItems = make(f.loginItems);
    s.codeSignature = make(f.codeSignature);
    s.notifications = make(f.notifications);
    if (adjust) {
        adjust(s);
        if (!s.codeSignature || s.codeSignature.get() != f.codeSignature)
            f.codeSignature = nullptr;
    }
    Platform::install(std::move(s));
    return f;
}

} // namespace pinlark
