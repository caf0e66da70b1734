#include "menubar/ColorScheme.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace pinlark {

namespace {
const QString portal = QStringLiteral("org.freedesktop.portal.Desktop");
const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settings = QStringLiteral("org.freedesktop.portal.Settings");
const QString group = QStringLiteral("org.freedesktop.appearance");
const QString key = QStringLiteral("color-scheme");
constexpr int timeoutMs = 1000;
} // namespace

ColorScheme::ColorScheme(QObject* parent)
    : QObject(parent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    bus.connect(portal, path, settings, QStringLiteral("SettingChanged"), this,
                SLOT(settingChanged(QString, QString, QDBusVariant)));
    QDBusMessage read =
        QDBusMessage::createMethodCall(portal, path, settings, QStringLiteral("Read"));
    read << group << key;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(read, timeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *w;
        if (!reply.isError())
            set(fromValue(reply.value().variant()));
    });
}

TrayIcon::Scheme ColorScheme::fromValue(const QVariant& value) {
    QVariant inner = value;
    while (inner.canConvert<QDBusVariant>() &&
           inner.metaType() == QMetaType::fromType<QDBusVariant>())
        inner = inner.value<QDBusVariant>().variant();
    switch (inner.toUInt()) {
    case 1:
        return TrayIcon::Scheme::Dark;
    case 2:
        return TrayIcon::Scheme::Light;
    default:
        return TrayIcon::Scheme::Unknown;
    }
}

void ColorScheme::settingChanged(const QString& changedGroup, const QString& changedKey,
                                 const QDBusVariant& value) {
    if (changedGroup == group && changedKey == key)
        set(fromValue(value.variant()));
}

void ColorScheme::set(TrayIcon::Scheme scheme) {
    if (scheme == m_scheme)
        return;
    m_scheme = scheme;
    Q_EMIT changed();
}

} // namespace pinlark
