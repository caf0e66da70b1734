#include "platform/linux/AutostartLoginItemService.h"

#include "Product.h"
#include "platform/AtomicFile.h"
#include "platform/BundleLocation.h"
#include "platform/Error.h"
#include "platform/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>

#include <algorithm>
#include <utility>

namespace pinlark {

namespace {

// The escapes of desktop-entry string values: "\s" is a space, "\n" a newline, and so on.
constexpr std::pair<char, char> valueEscapes[] = {
    {'s', ' '}, {'n', '\n'}, {'t', '\t'}, {'r', '\r'}, {'\\', '\\'}};

// Undoes the escapes of a string value; a backslash before any other character stays.
QString unescapeValue(const QString& value) {
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        out.append(value.at(i));
        if (value.at(i) != QLatin1Char('\\') || i + 1 == value.size())
            continue;
        for (const auto& [letter, character] : valueEscapes) {
            if (value.at(i + 1) == QLatin1Char(letter)) {
                out.back() = QLatin1Char(character);
                ++i;
                break;
            }
        }
    }
    return out;
}

// Escapes backslashes and control characters; spaces need no escape inside the quotes.
QString escapeValue(const QString& value) {
    QString out;
    out.reserve(value.size());
    for (const QChar c : value) {
        out.append(c);
        for (const auto& [letter, character] : valueEscapes) {
            if (letter != 's' && c == QLatin1Char(character)) {
                out.back() = QLatin1Char('\\');
                out.append(QLatin1Char(letter));
                break;
            }
        }
    }
    return out;
}

bool isFieldCode(const QString& arg) {
    return arg.size() == 2 && arg.at(0) == QLatin1Char('%') &&
           QStringLiteral("fFuUdDnNickvm").contains(arg.at(1));
}

// The keys of the [Desktop Entry] group, or none when the file does not start with that group.
std::optional<QHash<QString, QString>> desktopEntryKeys(const QByteArray& bytes) {
    QHash<QString, QString> keys;
    bool inGroup = false;
    for (const QByteArray& rawLine : bytes.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            if (inGroup)
                break;
            if (line != QLatin1String("[Desktop Entry]"))
                return std::nullopt;
            inGroup = true;
            continue;
        }
        if (!inGroup)
            return std::nullopt;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        if (!keys.contains(key))
            keys.insert(key, line.mid(eq + 1).trimmed());
    }
    if (!inGroup)
        return std::nullopt;
    return keys;
}

bool samePath(const QString& a, const QString& b) {
    const QString ca = QFileInfo(a).canonicalFilePath();
    const QString cb = QFileInfo(b).canonicalFilePath();
    if (!ca.isEmpty() && !cb.isEmpty())
        return ca == cb;
    return QDir::cleanPath(QFileInfo(a).absoluteFilePath()) ==
           QDir::cleanPath(QFileInfo(b).absoluteFilePath());
}

QString runningExecutable() {
    return Platform::bundle().executablePath();
}

} // namespace

QString AutostartLoginItemService::entryPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1String("/autostart/") + QLatin1String(Product::bundleIdentifier) +
           QLatin1String(".desktop");
}

QString AutostartLoginItemService::execValue(const QString& program) {
    // The characters an argument may only carry inside double quotes. Where there are none the
    // path goes bare: some launchers (xdg-open of xdg-utils 1.1.3) split Exec at spaces and take
    // quotes for part of the name.
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    const bool quote =
        std::any_of(program.begin(), program.end(), [](QChar c) { return reserved.contains(c); });
    QString value = quote ? QStringLiteral("\"") : QString();
    for (const QChar c : program) {
        if (quote && (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
                      c == QLatin1Char('\\')))
            value.append(QLatin1Char('\\'));
        if (c == QLatin1Char('%'))
            value.append(QLatin1Char('%'));
        value.append(c);
    }
    if (quote)
        value.append(QLatin1Char('"'));
    return escapeValue(value);
}

std::optional<QStringList> AutostartLoginItemService::execArguments(const QString& value) {
    const QString command = unescapeValue(value);
    QStringList args;
    QString current;
    bool inArgument = false;
    bool quoted = false;
    for (qsizetype i = 0; i < command.size(); ++i) {
        const QChar c = command.at(i);
        if (quoted) {
            if (c == QLatin1Char('"')) {
                quoted = false;
            } else if (c == QLatin1Char('\\') && i + 1 < command.size() &&
                       QStringLiteral("\"`$\\").contains(command.at(i + 1))) {
                current.append(command.at(++i));
            } else {
                current.append(c);
            }
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n')) {
            if (inArgument)
                args.append(current);
            current.clear();
            inArgument = false;
        } else {
            inArgument = true;
            if (c == QLatin1Char('"'))
                quoted = true;
            else
                current.append(c);
        }
    }
    if (quoted)
        return std::nullopt;
    if (inArgument)
        args.append(current);
    args.removeIf(isFieldCode);
    for (QString& arg : args)
        arg.replace(QLatin1String("%%"), QLatin1String("%"));
    return args;
}

LoginItemService::Status AutostartLoginItemService::status() const {
    const QString executable = runningExecutable();
    if (!QFileInfo(executable).isFile())
        return Status::NotFound;
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly))
        return Status::NotRegistered;
    const auto keys = desktopEntryKeys(file.readAll());
    if (!keys || keys->value(QStringLiteral("Type")) != QLatin1String("Application"))
        return Status::NotRegistered;
    const auto args = execArguments(keys->value(QStringLiteral("Exec")));
    if (!args || args->isEmpty() || !samePath(args->first(), executable))
        return Status::NotRegistered;
    if (keys->value(QStringLiteral("Hidden")) == QLatin1String("true") ||
        keys->value(QStringLiteral("X-GNOME-Autostart-enabled")) == QLatin1String("false"))
        return Status::RequiresApproval;
    return Status::Enabled;
}

void AutostartLoginItemService::registerApp() {
    const QString executable = runningExecutable();
    if (!QFileInfo(executable).isFile())
        throw PlatformError(
            QStringLiteral("The app's executable %1 could not be found.").arg(executable));
    // The entry would run whatever another user put at this path at every login.
    if (const auto shared = BundleLocation::folderOthersCanChange(Platform::bundle().path()))
        throw PlatformError(QStringLiteral("Other users can change %1, so Pinlark doesn't open "
                                           "at login from there.")
                                .arg(*shared));
    // Only the user switches this copy's entry back on, where they switched it off; rewriting
    // it here would undo their choice at every launch.
    if (status() == Status::RequiresApproval)
        return;
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=%1\n"
                                         "Exec=%2\n")
                              .arg(QLatin1String(Product::name), execValue(executable));
    const QString path = entryPath();
    const QString error = writeFileAtomically(path, entry.toUtf8(),
                                              QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ReadGroup | QFileDevice::ReadOther);
    if (!error.isEmpty())
        throw PlatformError(
            QStringLiteral("Could not write the autostart entry %1: %2").arg(path, error));
}

void AutostartLoginItemService::unregisterApp() {
    const QString path = entryPath();
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return;
    QFile file(path);
    if (!file.remove())
        throw PlatformError(QStringLiteral("Could not remove the autostart entry %1: %2")
                                .arg(path, file.errorString()));
}

} // namespace pinlark
