#pragma once

#include "platform/HotKeyService.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace pinlark {

// GNOME's custom keyboard shortcuts (Settings → Keyboard → Custom Shortcuts): the settings
// daemon's list of custom keybindings, each a name, a command and keys, read and written through
// GSettings in this session's settings store. Nothing here changes a shortcut that exists.
class GnomeShortcuts {
public:
    struct Shortcut {
        QString path;
        QString name;
        QString command;
        QString binding; // as GTK writes keys: "<Shift><Super>s"
    };

    // Whether this is a GNOME session whose settings know custom shortcuts.
    static bool available();
    static QList<Shortcut> custom();
    // The keys every shortcut of the shell, the window manager, the settings daemon and the
    // custom list holds, normalised.
    static QSet<QString> taken();
    // Adds a custom shortcut under a path no listed one uses. Throws PlatformError when the
    // settings store refuses.
    static void add(const QString& name, const QString& command, const QString& binding);

    // The same keys written one way: modifiers sorted, their aliases resolved, a letter in
    // lower case ("<Alt><Super>S" and "<Super><Mod1>s" alike). Empty for no keys.
    static QString normalized(const QString& binding);
    // The keys as the app names shortcuts elsewhere ("Shift+Meta+S").
    static QString keysText(const QString& binding);
    // The first custom-keybinding path that `used` does not hold.
    static QString freePath(const QStringList& used);
    // Whether `command` runs `program` (an absolute path) with the single argument `argument`,
    // however the daemon reads a '%': never for a command that holds one.
    static bool runs(const QString& command, const QString& program, const QString& argument);
    // `program` and `argument` as a command line the settings daemon splits back into them, the
    // program quoted where it needs it. Meant for a program without a '%' (see runs()).
    static QString commandLine(const QString& program, const QString& argument);
};

// The shortcut on GNOME: what the app registers itself where it can, else the custom shortcut
// of GNOME's settings that runs `program --toggle-library`, which the app offers to add, as it
// registers itself elsewhere, only where no other user can change its `bundle`, and only for a
// `program` whose path has no '%'. The same offer adds a second shortcut that runs
// `program --save-clipboard`, unless one does already.
class GnomeHotKeyService : public HotKeyService {
public:
    GnomeHotKeyService(std::unique_ptr<HotKeyService> own, QString program, QString bundle);
    bool registerHotKey(std::function<void()> pressed) override;
    QString name() const override;
    QString trigger() const override;
    QString offer() const override;
    QString saveOffer() const override;
    void acceptOffer() override;

    // The keys offered for the library and for saving the copied link, the first that nothing
    // holds of each.
    static const QStringList candidates;
    static const QStringList saveCandidates;

private:
    struct Keys {
        std::optional<QString> library, save; // as GTK writes keys
    };
    // The free keys of each shortcut the offer adds; none for a shortcut that exists.
    Keys freeKeys() const;
    // The custom shortcut that runs this program with `argument`, if there is one.
    std::optional<GnomeShortcuts::Shortcut> binding(const QString& argument) const;
    // Whether the app may offer shortcuts that run this copy at all.
    bool mayOffer() const;

    std::unique_ptr<HotKeyService> m_own;
    QString m_program;
    QString m_bundle;
};

} // namespace pinlark
