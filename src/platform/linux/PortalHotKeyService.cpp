#include "platform/linux/PortalHotKeyService.h"

#include "platform/Log.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QKeySequence>

#include <optional>

namespace pinlark {

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

namespace {

const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
const QString interface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString shortcutId = QStringLiteral("library");

// A new object path element; the portal names request and session objects after it.
QString newToken() {
    static int tokens = 0;
    return QStringLiteral("pinlark%1").arg(++tokens);
}

// Where the portal puts the request object named `token` for this connection: under the unique
// name without its colon, dots as underscores.
QString requestPath(const QString& token) {
    QString sender = QDBusConnection::sessionBus().baseService().mid(1);
    sender.replace(u'.', u'_');
    return path + QStringLiteral("/request/") + sender + u'/' + token;
}

// The shortcut as the portal takes it, with Alt+Super+L as the preferred trigger.
QList<PortalShortcut> shortcuts() {
    return {{shortcutId,
             {{QStringLiteral("description"), QStringLiteral("Show or hide the library window")},
              {QStringLiteral("preferred_trigger"), QStringLiteral("ALT+LOGO+l")}}}};
}

// The keys a portal's list of shortcuts gives the shortcut (empty when it has none); nothing
// when the list leaves it out.
std::optional<QString> triggerIn(const QVariant& shortcuts) {
    for (const PortalShortcut& s : qdbus_cast<QList<PortalShortcut>>(shortcuts)) {
        if (s.id == shortcutId)
            return s.properties.value(QStringLiteral("trigger_description")).toString();
    }
    return std::nullopt;
}

// Portals document the session handle as an object path and send a string.
QString pathOf(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

} // namespace

PortalHotKeyService::PortalHotKeyService() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    // Request objects come and go; their signals are told apart by path.
    bus.connect(service, QString(), QStringLiteral("org.freedesktop.portal.Request"),
                QStringLiteral("Response"), this, SLOT(response(QDBusMessage)));
    bus.connect(service, path, interface, QStringLiteral("Activated"), this,
                SLOT(activated(QDBusMessage)));
    bus.connect(service, path, interface, QStringLiteral("ShortcutsChanged"), this,
                SLOT(changed(QDBusMessage)));
}

bool PortalHotKeyService::registerHotKey(std::function<void()> pressed) {
    m_pressed = std::move(pressed);
    if (m_step != Step::Idle && m_step != Step::Failed)
        return true;
    if (!QDBusConnection::sessionBus().isConnected())
        return false;
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    // KDE's backend (Plasma 5.27) binds the shortcuts that come with CreateSession, under a
    // component named after the app id (empty for an unsandboxed app) and the session token,
    // and answers with them bound; its BindShortcuts only opens the shortcut settings. A
    // steady token keeps that component's name from one launch to the next.
    const QString session = std::exchange(m_retry, true) ? newToken() : QStringLiteral("Pinlark");
    m_step = Step::Creating;
    send(QStringLiteral("CreateSession"), {},
         {{QStringLiteral("session_handle_token"), session},
          {QStringLiteral("shortcuts"), QVariant::fromValue(shortcuts())}});
    return true;
}

void PortalHotKeyService::send(const QString& method, QVariantList arguments, QVariantMap options) {
    const QString token = newToken();
    options.insert(QStringLiteral("handle_token"), token);
    // Listened to before the request leaves: the Response may arrive before the reply.
    const QString predicted = requestPath(token);
    m_request = predicted;
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    call.setArguments(arguments << options);
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, predicted](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                const QDBusPendingReply<QDBusObjectPath> reply = *w;
                if (m_request != predicted)
                    return; // answered already
                if (reply.isError())
                    fail(reply.error().message());
                else // a portal older than the handle_token option names its own
                    m_request = reply.value().path();
            });
}

void PortalHotKeyService::response(const QDBusMessage& message) {
    const QVariantList args = message.arguments();
    if (m_request.isEmpty() || message.path() != m_request || args.size() < 2)
        return;
    m_request.clear();
    const uint code = args.at(0).toUInt();
    const QVariantMap results = qdbus_cast<QVariantMap>(args.at(1));
    if (code != 0)
        return fail(code == 1 ? QStringLiteral("cancelled") : QStringLiteral("refused"));
    const std::optional<QString> trigger = triggerIn(results.value(QStringLiteral("shortcuts")));
    if (m_step == Step::Creating) {
        m_session = pathOf(results.value(QStringLiteral("session_handle")));
        if (m_session.isEmpty())
            return fail(QStringLiteral("no session"));
        m_step = Step::Session;
        // Bound already where the backend binds at CreateSession, with keys or without (then
        // KDE's BindShortcuts would open the shortcut settings at each launch).
        if (!trigger)
            return send(QStringLiteral("BindShortcuts"),
                        {QVariant::fromValue(QDBusObjectPath(m_session)),
                         QVariant::fromValue(shortcuts()), QString()},
                        {});
    }
    confirm(trigger.value_or(QString()));
}

// KDE's backend reports the keys it asked kglobalaccel for, also when kglobalaccel gave them to
// another shortcut and none to this one: the keys stand unless kglobalaccel says they press
// another. Where kglobalaccel does not run, they stand (the call does not start it).
void PortalHotKeyService::confirm(const QString& trigger) {
    const QKeySequence keys = QKeySequence::fromString(trigger, QKeySequence::NativeText);
    if (keys.isEmpty())
        return bound(trigger, {});
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.kde.kglobalaccel"), QStringLiteral("/kglobalaccel"),
        QStringLiteral("org.kde.KGlobalAccel"), QStringLiteral("action"));
    call << keys[0].toCombined();
    call.setAutoStartService(false);
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, trigger](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                // The holder's component, shortcut and their names; KDE's backend names the
                // component after the app id and the session token.
                const QStringList holder = QDBusPendingReply<QStringList>(*w).value();
                if (holder.size() < 4 || (holder.at(1) == shortcutId &&
                                          holder.at(0).endsWith(m_session.section(u'/', -1))))
                    bound(trigger, {});
                else
                    bound({}, QStringLiteral("%1 press \"%2\" of %3")
                                  .arg(trigger, holder.at(3), holder.at(2)));
            });
}

void PortalHotKeyService::bound(const QString& trigger, const QString& taken) {
    const bool change = std::exchange(m_trigger, trigger) != trigger;
    logLine(!trigger.isEmpty()
                ? QStringLiteral("[Pinlark] the desktop portal bound the global shortcut to %1")
                      .arg(trigger)
                : QStringLiteral("[Pinlark] the desktop portal took the global shortcut without "
                                 "keys%1: set them in the desktop's settings")
                      .arg(taken.isEmpty() ? QString() : QStringLiteral(" (") + taken + u')'));
    if (change && onTriggerChange)
        onTriggerChange();
}

// The user gave the shortcut other keys, or none, in the desktop's settings.
void PortalHotKeyService::changed(const QDBusMessage& message) {
    const QVariantList args = message.arguments();
    if (m_step != Step::Session || !m_request.isEmpty() || args.size() < 2 ||
        pathOf(args.at(0)) != m_session)
        return;
    if (const auto trigger = triggerIn(args.at(1)))
        confirm(*trigger);
}

void PortalHotKeyService::activated(const QDBusMessage& message) {
    const QVariantList args = message.arguments();
    if (m_step != Step::Session || args.size() < 2 || pathOf(args.at(0)) != m_session ||
        args.at(1).toString() != shortcutId)
        return;
    if (m_pressed)
        m_pressed();
}

void PortalHotKeyService::fail(const QString& why) {
    m_step = Step::Failed;
    m_request.clear();
    if (!std::exchange(m_trigger, QString()).isEmpty() && onTriggerChange)
        onTriggerChange();
    logLine(QStringLiteral("[Pinlark] the desktop portal did not bind the global shortcut: %1")
                .arg(why));
}

} // namespace pinlark
