#pragma once

#include "menubar/TrayIcon.h"

#include <QObject>

class QDBusVariant;

namespace pinlark {

// The desktop's light or dark preference, from the desktop portal's settings
// (org.freedesktop.appearance color-scheme: 0 none, 1 dark, 2 light). Asked once without
// waiting, given up after a second without an answer, and followed as the setting changes.
// Unknown where no portal says.
class ColorScheme : public QObject {
    Q_OBJECT
public:
    explicit ColorScheme(QObject* parent = nullptr);

    TrayIcon::Scheme scheme() const { return m_scheme; }

    // The portal's value, which some portals wrap in one more variant, as a preference.
    static TrayIcon::Scheme fromValue(const QVariant& value);

Q_SIGNALS:
    void changed();

private Q_SLOTS:
    void settingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
    void set(TrayIcon::Scheme scheme);

    TrayIcon::Scheme m_scheme = TrayIcon::Scheme::Unknown;
};

} // namespace pinlark
