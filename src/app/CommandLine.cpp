#include "app/CommandLine.h"

#include "Product.h"
#include "quicksave/LinkFinder.h"

#include <QSet>

#include <cstdio>

#include <QFileInfo>
#include <QStandardPaths>

namespace pinlark::CommandLine {

namespace {

constexpr qsizetype maxLinkLength = 8192;

// Argument text to echo on a terminal: shortened, without control characters.
QString printable(const QString& text) {
    QString shown = text.left(200);
    for (QChar& c : shown) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char('?');
    }
    return shown;
}

Parsed fail(const QString& problem) {
    return Parsed{std::nullopt,
                  QStringLiteral("Pinlark: %1\nTry \"%2 --help\".\n").arg(problem, program()), 2};
}

Parsed save(const QString& text) {
    if (const auto link = saveableLink(text))
        return Parsed{Command{Command::Kind::Save, *link}, {}, 0};
    return Parsed{std::nullopt,
                  QStringLiteral("Pinlark: \"%1\" is not a link Pinlark can save: only http and "
                                 "https links of at most %2 characters, encoded, are.\n")
                      .arg(printable(text))
                      .arg(maxLinkLength),
                  2};
}

// Several links at once: each argument a link, or a text of links (`-`, standard input).
Parsed saveMany(const QStringList& texts, bool fromInput) {
    QList<QUrl> links;
    QSet<QByteArray> seen;
    const auto take = [&](const QUrl& url) {
        if (!seen.contains(url.toEncoded())) {
            seen.insert(url.toEncoded());
            links.append(url);
        }
    };
    int leftOut = 0;
    // Past the most a save takes, only counted.
    int total = 0;
    if (fromInput) {
        const FoundLinks found = findLinks(texts.join(QLatin1Char('\n')));
        for (const QString& text : found.links) {
            if (const auto link = saveableLink(text))
                take(*link);
        }
        leftOut = found.leftOut;
        if (found.count == 0)
            return Parsed{std::nullopt,
                          leftOut ? QStringLiteral("Pinlark: no http or https link in the text "
                                                   "(%1 other left out); nothing saved.\n")
                                        .arg(leftOut)
                                  : QStringLiteral("Pinlark: no http or https link in the text; "
                                                   "nothing saved.\n"),
                          2};
        total = found.count;
    } else {
        for (const QString& text : texts) {
            const auto link = saveableLink(text);
            if (!link)
                return save(text);
            take(*link);
        }
        total = int(links.size());
    }
    if (total > FoundLinks::maxLinks)
        return Parsed{std::nullopt,
                      QStringLiteral("Pinlark: %1 links: at most %2 go in one save; nothing "
                                     "saved.\n")
                          .arg(total)
                          .arg(FoundLinks::maxLinks),
                      2};
    Command command{Command::Kind::Save, links.first()};
    if (links.size() > 1)
        command.links = links;
    return Parsed{command, {}, 0};
}

} // namespace

std::optional<QByteArray> standardInput() {
    static const std::optional<QByteArray> read = [] {
        QByteArray bytes;
        char chunk[65536];
        while (bytes.size() <= maxInput) {
            const size_t n = std::fread(chunk, 1, sizeof chunk, stdin);
            bytes.append(chunk, qsizetype(n));
            if (n < sizeof chunk)
                return std::ferror(stdin) ? std::nullopt : std::optional(bytes);
        }
        return std::optional(bytes.left(maxInput + 1));
    }();
    return read;
}

std::optional<QUrl> saveableLink(const QString& text) {
    // The length that counts is the link's as it travels, encoded; encoding never shortens a
    // link, so longer text is refused before it is parsed.
    const QString trimmed = text.trimmed();
    if (trimmed.size() > maxLinkLength)
        return std::nullopt;
    const QUrl url(trimmed, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        url.host().isEmpty() || url.toEncoded().size() > maxLinkLength)
        return std::nullopt;
    return url;
}

Parsed parse(const QStringList& arguments,
             const std::function<std::optional<QByteArray>()>& input) {
    if (arguments.isEmpty())
        return Parsed{Command{}, {}, 0};
    const QString& first = arguments.first();
    if (first == QLatin1String("--help") || first == QLatin1String("-h"))
        return arguments.size() == 1 ? Parsed{std::nullopt, help(), 0}
                                     : fail(QStringLiteral("--help takes nothing more"));
    if (first == QLatin1String("--version"))
        return arguments.size() == 1
                   ? Parsed{std::nullopt,
                            QStringLiteral("Pinlark %1\n").arg(QLatin1String(Product::version)), 0}
                   : fail(QStringLiteral("--version takes nothing more"));
    if (first == QLatin1String("--uninstall"))
        return arguments.size() == 1 ? Parsed{std::nullopt, {}, 0, true}
                                     : fail(QStringLiteral("--uninstall takes nothing more"));
    if (first == QLatin1String("--save")) {
        if (arguments.size() < 2)
            return fail(QStringLiteral("--save needs a link"));
        if (arguments.at(1) == QLatin1String("-")) {
            if (arguments.size() > 2)
                return fail(QStringLiteral("--save - takes nothing more"));
            const std::optional<QByteArray> text = input();
            if (!text)
                return Parsed{std::nullopt,
                              QStringLiteral("Pinlark: standard input can't be read.\n"), 1};
            if (text->size() > maxInput)
                return Parsed{std::nullopt,
                              QStringLiteral("Pinlark: standard input holds more than %1 bytes; "
                                             "Pinlark reads at most that much at once. Nothing "
                                             "saved.\n")
                                  .arg(maxInput),
                              2};
            return saveMany({QString::fromUtf8(*text)}, true);
        }
        if (arguments.size() > 2)
            return saveMany(arguments.mid(1), false);
        return save(arguments.at(1));
    }
    if (first == QLatin1String("--save-clipboard")) {
        if (arguments.size() > 1)
            return fail(QStringLiteral("--save-clipboard takes nothing more"));
        Command command{Command::Kind::Save, {}};
        command.clipboard = true;
        return Parsed{command, {}, 0};
    }
    const struct {
        const char* option;
        Command::Kind kind;
    } commands[] = {{"--quick-save", Command::Kind::QuickSave},
                    {"--toggle-library", Command::Kind::ToggleLibrary}};
    for (const auto& c : commands) {
        if (first == QLatin1String(c.option))
            return arguments.size() == 1 ? Parsed{Command{c.kind, {}}, {}, 0}
                                         : fail(QStringLiteral("%1 takes nothing more").arg(first));
    }
    if (first.startsWith(QLatin1Char('-')))
        return fail(QStringLiteral("unknown option \"%1\"").arg(printable(first)));
    if (arguments.size() > 1)
        return fail(QStringLiteral("one link at a time"));
    return save(first);
}

QString program() {
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("pinlark"));
    if (self.isEmpty() || (!onPath.isEmpty() && QFileInfo(onPath).canonicalFilePath() == self))
        return QStringLiteral("pinlark");
    return self;
}

QString help() {
    const QString text = QStringLiteral(
        "Usage: %1 [URL]\n"
        "       %1 --save URL... | --save - | --save-clipboard\n"
        "       %1 --quick-save | --toggle-library\n"
        "       %1 --doctor | --uninstall | --version | --help\n"
        "\n"
        "Pinlark lives in the tray: a click on its icon opens the quick-save panel. Starting it\n"
        "again while it runs brings its library window forward. Started from a folder of your\n"
        "own, it adds itself to your desktop's launcher.\n"
        "\n"
        "  URL, --save URL    open the quick-save panel with URL (http or https) in its field,\n"
        "                     ready to save; starts Pinlark first when it is not running\n"
        "  --save URL URL...  the same with several links (at most 100): Return saves each\n"
        "  --save -           the same with the http and https links of the text on standard\n"
        "                     input (at most 1 MiB)\n"
        "  --save-clipboard   save the link or links on the clipboard at once, without the\n"
        "                     panel; a notification tells how it went\n"
        "  --quick-save       open the quick-save panel, with a link from the clipboard\n"
        "  --toggle-library   show the library window, or hide it when it is in front\n"
        "  --uninstall        remove what Pinlark put on your desktop (its launcher entry, its\n"
        "                     icons, its login item) and list what it leaves (preferences, web\n"
        "                     data) and where\n"
        "  --doctor           print what this desktop gives Pinlark and what is missing\n"
        "  --version          print the version\n"
        "  -h, --help         show this text\n"
        "\n"
        "Without a tray, the library window has a Quick Save button and the tray's menu as its\n"
        "File menu. To give the two commands keys of your own:\n"
        "  GNOME  Settings > Keyboard > View and Customize Shortcuts > Custom Shortcuts > Add\n"
        "         Shortcut: command \"%1 --quick-save\", then the keys; works on Wayland too\n"
        "  KDE    System Settings > Shortcuts > Add New > Command or Script: command\n"
        "         \"%1 --toggle-library\", then the keys\n"
        "The same way, \"%1 --save-clipboard\" on keys of your own saves the copied link.\n");
    return text.arg(program());
}

} // namespace pinlark::CommandLine
