#include "platform/linux/X11HotKeyService.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeySequence>
#include <QList>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdlib>
#include <optional>

namespace pinlark {

namespace {

// Keysyms (X11/keysymdef.h).
constexpr xcb_keysym_t keysymL = 0x006c;
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

// Reads which modifier bit each modifier key sets, from the server's modifier map.
class ModifierMap {
public:
    explicit ModifierMap(xcb_connection_t* c)
        : m_reply(xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr)) {}
    ~ModifierMap() { std::free(m_reply); }
    ModifierMap(const ModifierMap&) = delete;
    ModifierMap& operator=(const ModifierMap&) = delete;

    // The bit (Shift, Lock, Control, Mod1…Mod5) that `keycode` sets, or `fallback`.
    uint16_t maskOf(xcb_keycode_t keycode, uint16_t fallback) const {
        if (!m_reply || keycode == 0)
            return fallback;
        const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(m_reply);
        const int perModifier = m_reply->keycodes_per_modifier;
        for (int modifier = 0; modifier < 8; ++modifier)
            for (int i = 0; i < perModifier; ++i)
                if (codes[modifier * perModifier + i] == keycode)
                    return uint16_t(1u << modifier);
        return fallback;
    }

private:
    xcb_get_modifier_mapping_reply_t* m_reply;
};

} // namespace

struct X11HotKeyService::Grab {
    xcb_connection_t* connection = nullptr;
    xcb_keycode_t keycode = 0;
    uint16_t modifiers = 0;    // Alt + Super
    uint16_t numLock = 0;      // Num Lock's bit; Caps Lock is always Lock
    QList<xcb_window_t> roots; // where the grabs are held
    // While the key is held, auto-repeat sends more presses: each after a release with the
    // press's own timestamp, or (with XKB's detectable auto-repeat) without a release at all.
    bool held = false;
    std::optional<xcb_timestamp_t> releasedAt;

    uint16_t locks() const { return uint16_t(XCB_MOD_MASK_LOCK | numLock); }
    QList<uint16_t> variants() const {
        return {modifiers, uint16_t(modifiers | XCB_MOD_MASK_LOCK), uint16_t(modifiers | numLock),
                uint16_t(modifiers | locks())};
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
    const ModifierMap modifierMap(c);
    grab->keycode = keycodeOf(symbols, keysymL);
    grab->modifiers = modifierMap.maskOf(keycodeOf(symbols, keysymAltL), XCB_MOD_MASK_1) |
                      modifierMap.maskOf(keycodeOf(symbols, keysymSuperL), XCB_MOD_MASK_4);
    grab->numLock = modifierMap.maskOf(keycodeOf(symbols, keysymNumLock), XCB_MOD_MASK_2);
    xcb_key_symbols_free(symbols);
    if (grab->keycode == 0)
        return false;

    // Send every grab first, then collect the answers: one round trip per grab is not needed.
    QList<xcb_void_cookie_t> cookies;
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem; xcb_screen_next(&it)) {
        grab->roots.append(it.data->root);
        for (const uint16_t mods : grab->variants())
            cookies.append(xcb_grab_key_checked(c, 0, it.data->root, mods, grab->keycode,
                                                XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    }
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

QString X11HotKeyService::trigger() const {
    if (!m_grab)
        return {};
    return QKeySequence(Qt::ALT | Qt::META | Qt::Key_L).toString(QKeySequence::NativeText);
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
    const uint8_t type = event->response_type & 0x7f;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return false;
    // A release has the layout of a press.
    const auto* key = static_cast<const xcb_key_press_event_t*>(message);
    if (key->detail != m_grab->keycode || !m_grab->roots.contains(key->root))
        return false;
    if (type == XCB_KEY_RELEASE) {
        // Ends the hold whichever modifiers are still down; left to Qt, which has no window
        // for it.
        if (m_grab->held) {
            m_grab->held = false;
            m_grab->releasedAt = key->time;
        }
        return false;
    }
    const uint16_t modifierBits = 0xff; // Shift … Mod5, without the mouse buttons
    const uint16_t state = key->state & modifierBits & ~m_grab->locks();
    if (state != m_grab->modifiers)
        return false;
    const bool repeat = m_grab->held || m_grab->releasedAt == key->time;
    m_grab->held = true;
    if (!repeat && m_pressed)
        m_pressed();
    return true;
}

} // namespace pinlark
