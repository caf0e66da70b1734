#pragma once

#include "platform/LoginItemService.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace pinlark {

// Open at login through an XDG autostart entry, $XDG_CONFIG_HOME/autostart/<bundle id>.desktop,
// whose Exec starts the running bundle's executable. The states map as follows:
//   Enabled           a valid entry for this executable, not switched off;
//   RequiresApproval  such an entry switched off by the desktop (Hidden=true or
//                     X-GNOME-Autostart-enabled=false);
//   NotRegistered     no entry, an unreadable or invalid one, or one for another copy of the app;
//   NotFound          the running executable is not on disk any more.
// Registering writes a fresh entry atomically, replacing a missing, invalid or other copy's
// entry, and leaves a switched-off entry for this executable as it is (the desktop's start-up
// settings switch it on again); unregistering removes the entry.
class AutostartLoginItemService : public LoginItemService {
public:
    Status status() const override;
    void registerApp() override;
    void unregisterApp() override;

    static QString entryPath();

    // The value of an Exec key that runs `program` without arguments: quoted only where desktop
    // entries require it (a space or another reserved character), and escaped, so spaces,
    // quotes, '$', '%' and backslashes survive.
    static QString execValue(const QString& program);
    // The arguments of an Exec value as written in the file, with escapes and quoting undone and
    // field codes (%u, %F, ...) dropped; none when the quoting is broken.
    static std::optional<QStringList> execArguments(const QString& value);
};

} // namespace pinlark
