#pragma once

#include "platform/HotKeyService.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariantMap>

namespace pinlark {

// One entry of the portal's lists of shortcuts, a(sa{sv}): the shortcut's id and its properties.
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};
QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut);
const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut);

// The shortcut through the desktop portal's GlobalShortcuts interface on the session bus, for
// Wayland, where no client may grab a key: a session, then one shortcut bound in it with
// Alt+Super+L as the preferred trigger (the desktop may ask the user and pick another), then
// its activations. The shortcut also comes with the session, for desktops that bind it there.
// Nothing waits: the portal answers each request with a Response signal on a request object,
// which is listened to before the request is sent.
class PortalHotKeyService : public QObject, public HotKeyService {
    Q_OBJECT
public:
    PortalHotKeyService();

    // Sends the first request and gives true (false without a session bus); later calls only
    // replace `pressed`, or try again after a refusal. A refusal (of the portal, the desktop or
    // the user) comes later and is logged: no shortcut then.
    bool registerHotKey(std::function<void()> pressed) override;
    QString name() const override { return QStringLiteral("the desktop portal's GlobalShortcuts"); }
    // The keys the portal reports once it has bound the shortcut (it may bind it without keys,
    // for the user to choose in the desktop's settings).
    QString trigger() const override { return m_trigger; }

private Q_SLOTS:
    void response(const QDBusMessage& message);
    void activated(const QDBusMessage& message);
    void changed(const QDBusMessage& message);

private:
    // Session: the session exists and the shortcut is bound or being bound.
    enum class Step { Idle, Creating, Session, Failed };

    void send(const QString& method, QVariantList arguments, QVariantMap options);
    void fail(const QString& why);
    void confirm(const QString& trigger);
    // Takes the keys the shortcut was bound to, none when `taken` says who has them.
    void bound(const QString& trigger, const QString& taken);

    std::function<void()> m_pressed;
    Step m_step = Step::Idle;
    QString m_request; // the request object whose Response is awaited
    QString m_session;
    QString m_trigger;
    bool m_retry = false; // a session was asked for before
};

} // namespace pinlark

Q_DECLARE_METATYPE(pinlark::PortalShortcut)
