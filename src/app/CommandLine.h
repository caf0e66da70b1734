#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

namespace pinlark {

// What a launch asks of the running app.
struct Command {
    enum class Kind { Reopen, Save, QuickSave, ToggleLibrary };
    Command(Kind kind = Kind::Reopen, QUrl link = {}, QList<QUrl> links = {},
            bool clipboard = false)
        : kind(kind)
        , link(std::move(link))
        , links(std::move(links))
        , clipboard(clipboard) {}
    Kind kind = Kind::Reopen;
    // The link to save, for Save.
    QUrl link;
    // Save of several links (`--save A B…`, `--save -`): all of them, the first being `link`,
    // at most FoundLinks::maxLinks, each once; empty for one link.
    QList<QUrl> links;
    // Save of what the clipboard holds, at once and without the panel (`--save-clipboard`);
    // `link` and `links` are empty. The entry point routes it to the status item.
    bool clipboard = false;
    bool operator==(const Command&) const = default;
};

// The app's command line: nothing (a plain launch, which reopens a running app), a link to
// save (`--save URL`, or the URL alone, as a desktop file's %u gives it), `--quick-save`,
// `--toggle-library`, `--uninstall` or `--help`.
namespace CommandLine {

struct Parsed {
    // None: print `message` (to standard output when `exitStatus` is 0, to standard error
    // otherwise) and exit with `exitStatus`.
    std::optional<Command> command;
    QString message;
    int exitStatus = 0;
    // `--uninstall`: take the app off the user's desktop (DesktopRegistration::uninstall), print
    // what was done and exit, without a command.
    bool uninstall = false;
};

// The most of standard input `--save -` reads.
inline constexpr qint64 maxInput = 1024 * 1024;
// Standard input, up to maxInput bytes and one more, read once: later calls give the same.
std::optional<QByteArray> standardInput();

// `arguments` follow the program name; the application object has taken out Qt's own.
// `--save -` reads the links from `input`: at most `maxInput` bytes and one more, to know there
// are more (none: it could not be read).
Parsed parse(const QStringList& arguments,
             const std::function<std::optional<QByteArray>()>& input = standardInput);


// `text` as a link the app saves when it comes from outside: an http or https URL with a host,
// at most 8192 characters long once encoded. A launch and the running copy it hands the link to
// judge it alike.
std::optional<QUrl> saveableLink(const QString& text);

// The usage text, naming the program as program() does.
QString help();

// The command that runs this copy, as messages name it: `pinlark` where that name on the PATH
// leads to this program (the package's link), otherwise this program's full path.
QString program();

} // namespace CommandLine

} // namespace pinlark
