#include "platform/linux/X11HotKeyService.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QList>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdlib>

namespace pinlark {

namespace {

// Keysyms (X11/keysymdef.h).
constexpr xcb_keysym_t keysymS = 0x0073;
constexpr xcb_keysym_t keysymAltL = 0xffe9;
constexpr xcb_keysym_t keysymSuperL = 0xffeb;
constexpr xcb_keysym_t keysymNumLock = 0xff7f;

xcb_connection_t* x11Connection() {
    auto* app = qGuiApp;
    if (!app)
        return nullptr;
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

// The first keycode that produces `keysym`, or 0.
xcb_keycode_t keycodeOf(xcb_key_symbols_t* symbols, xcb_keysym_t keysym) {
    xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, keysym);
    if (!codes)
        return 0;
    const xcb_keycode_t code = codes[0] == XCB_NO_SYMBOL ? 0 : codes[0];
    std::free(codes);
    return code;
}

// The modifier bit (Mod1…Mod5, Shift, Lock, Control) that `keycode` is mapped to, or
// `fallback` when the server's modifier map does not list it.
uint16_t modifierOf(xcb_connection_t* c, xcb_keycode_t keycode, uint16_t fallback) {
    if (keycode == 0)
        return fallback;
    xcb_get_modifier_mapping_reply_t* reply =
        xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr);
    if (!reply)
        return fallback;
    uint16_t mask = fallback;
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(reply);
    const int perModifier = reply->keycodes_per_modifier;
    for (int modifier = 0; modifier < 8 && mask == fallback; ++modifier) {
        for (int i = 0; i < perModifier; ++i) {
            if (codes[modifier * perModifier + i] == keycode) {
                mask = uint16_t(1u << modifier);
                break;
            }
        }
    }
    std::free(reply);
    return mask;
}

} // namespace

struct X11HotKeyService::Grab {
    xcb_connection_t* connection = nullptr;
    xcb_keycode_t keycode = 0;
    uint16_t modifiers = 0;    // Alt + Super
    uint16_t ignored = 0;      // Caps Lock + Num Lock
    QList<xcb_window_t> roots; // where the grabs are held
    QList<uint16_t> variants() const {
        const uint16_t numLock = ignored & ~uint16_t(XCB_MOD_MASK_LOCK);
        return {modifiers, uint16_t(modifiers | XCB_MOD_MASK_LOCK), uint16_t(modifiers | numLock),
                uint16_t(modifiers | ignored)};
    }
};

X11HotKeyService::X11HotKeyService() = default;

X11HotKeyService::~X11HotKeyService() {
    ungrab();
}

bool X11HotKeyService::registerHotKey(std::function<void()> pressed) {
    if (m_grab) {
        m_pressed = std::move(pressed);
        return true;
    }
    xcb_connection_t* c = x11Connection();
    if (!c || xcb_connection_has_error(c))
        return false;

    auto grab = std::make_unique<Grab>();
    grab->connection = c;
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(c);
    if (!symbols)
        return false;
    grab->keycode = keycodeOf(symbols, keysymS);
    const uint16_t alt = modifierOf(c, keycodeOf(symbols, keysymAltL), XCB_MOD_MASK_1);
    const uint16_t super = modifierOf(c, keycodeOf(symbols, keysymSuperL), XCB_MOD_MASK_4);
    const uint16_t numLock = modifierOf(c, keycodeOf(symbols, keysymNumLock), XCB_MOD_MASK_2);
    xcb_key_symbols_free(symbols);
    if (grab->keycode == 0)
        return false;
    grab->modifiers = alt | super;
    grab->ignored = uint16_t(XCB_MOD_MASK_LOCK | numLock);

    // Send every grab first, then collect the answers: one round trip per grab is not needed.
    QList<xcb_void_cookie_t> cookies;
    QList<xcb_window_t> roots;
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem; xcb_screen_next(&it)) {
        roots.append(it.data->root);
        for (const uint16_t mods : grab->variants())
            cookies.append(xcb_grab_key_checked(c, 0, it.data->root, mods, grab->keycode,
                                                XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    }
    grab->roots = roots;
    bool refused = false;
    for (const xcb_void_cookie_t cookie : cookies) {
        // BadAccess when another client holds one of the combinations.
        if (xcb_generic_error_t* error = xcb_request_check(c, cookie)) {
            refused = true;
            std::free(error);
        }
    }
    m_grab = std::move(grab);
    if (refused) {
        ungrab();
        return false;
    }
    m_pressed = std::move(pressed);
    QCoreApplication::instance()->installNativeEventFilter(this);
    return true;
}

void X11HotKeyService::ungrab() {
    if (!m_grab)
        return;
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    // The connection belongs to the application; it is gone once the application is.
    if (qGuiApp && x11Connection() == m_grab->connection) {
        for (const xcb_window_t root : m_grab->roots)
            for (const uint16_t mods : m_grab->variants())
                xcb_ungrab_key(m_grab->connection, m_grab->keycode, root, mods);
        xcb_flush(m_grab->connection);
    }
    m_grab.reset();
    m_pressed = {};
}

bool X11HotKeyService::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (!m_grab || eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_KEY_PRESS)
        return false;
    const auto* key = static_cast<const xcb_key_press_event_t*>(message);
    const uint16_t modifierBits = 0xff; // Shift … Mod5, without the mouse buttons
    const uint16_t state = key->state & modifierBits & ~m_grab->ignored;
    if (key->detail != m_grab->keycode || state != m_grab->modifiers ||
        !m_grab->roots.contains(key->root))
        return false;
    if (m_pressed)
        m_pressed();
    return true;
}

} // namespace pinlark
