#include "platform/linux/GnomeShortcuts.h"

#include "platform/BundleLocation.h"
#include "platform/Desktop.h"
#include "platform/Error.h"

#include <QFileInfo>
#include <QHash>
#include <QKeySequence>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gio/gio.h>

namespace pinlark {

namespace {

const char* const listSchema = "org.gnome.settings-daemon.plugins.media-keys";
const char* const listKey = "custom-keybindings";
const char* const shortcutSchema = "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding";
const QString pathBase =
    QStringLiteral("/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom%1/");
// Where GNOME keeps its own shortcuts.
const char* const builtInSchemas[] = {
    "org.gnome.desktop.wm.keybindings", "org.gnome.mutter.keybindings",
    "org.gnome.mutter.wayland.keybindings", "org.gnome.shell.keybindings", listSchema};

struct Unref {
    void operator()(GSettingsSchema* p) const { g_settings_schema_unref(p); }
    void operator()(GSettings* p) const { g_object_unref(p); }
    void operator()(GVariant* p) const { g_variant_unref(p); }
    void operator()(gchar** p) const { g_strfreev(p); }
    void operator()(gchar* p) const { g_free(p); }
};
template <typename T> using Owned = std::unique_ptr<T, Unref>;

// A missing schema ends the process inside g_settings_new: each is looked up first.
Owned<GSettingsSchema> schema(const char* id) {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    return Owned<GSettingsSchema>(source ? g_settings_schema_source_lookup(source, id, TRUE)
                                         : nullptr);
}

Owned<GSettings> settings(const char* id, const QString& path = {}) {
    const Owned<GSettingsSchema> found = schema(id);
    if (!found)
        return nullptr;
    return Owned<GSettings>(g_settings_new_full(
        found.get(), nullptr, path.isEmpty() ? nullptr : path.toUtf8().constData()));
}

QStringList strings(const char* const* list) {
    QStringList out;
    for (; list && *list; ++list)
        out << QString::fromUtf8(*list);
    return out;
}

QString string(GSettings* s, const char* key) {
    return QString::fromUtf8(Owned<gchar>(g_settings_get_string(s, key)).get());
}

void set(GSettings* s, const char* key, const QString& value) {
    if (!g_settings_set_string(s, key, value.toUtf8().constData()))
        throw PlatformError(QStringLiteral("GNOME's settings don't let Pinlark change its "
                                           "keyboard shortcuts (%1 is locked)")
                                .arg(QString::fromUtf8(key)));
}

} // namespace

bool GnomeShortcuts::available() {
    return Desktop::isGnome() && schema(listSchema) && schema(shortcutSchema);
}

QList<GnomeShortcuts::Shortcut> GnomeShortcuts::custom() {
    const Owned<GSettings> list = settings(listSchema);
    if (!list)
        return {};
    QList<Shortcut> found;
    for (const QString& path :
         strings(Owned<gchar*>(g_settings_get_strv(list.get(), listKey)).get())) {
        // GSettings ends the process on a path that is not one.
        if (!path.startsWith(QLatin1Char('/')) || !path.endsWith(QLatin1Char('/')) ||
            path.contains(QLatin1String("//")))
            continue;
        if (const Owned<GSettings> one = settings(shortcutSchema, path))
            found.append({path, string(one.get(), "name"), string(one.get(), "command"),
                          string(one.get(), "binding")});
    }
    return found;
}

QSet<QString> GnomeShortcuts::taken() {
    QSet<QString> keys;
    for (const char* id : builtInSchemas) {
        const Owned<GSettingsSchema> found = schema(id);
        if (!found)
            continue;
        const Owned<GSettings> s(g_settings_new_full(found.get(), nullptr, nullptr));
        const Owned<gchar*> names(g_settings_schema_list_keys(found.get()));
        for (const QString& name : strings(names.get())) {
            const Owned<GVariant> value(g_settings_get_value(s.get(), name.toUtf8().constData()));
            QStringList bindings;
            if (g_variant_is_of_type(value.get(), G_VARIANT_TYPE_STRING_ARRAY))
                bindings = strings(Owned<gchar*>(g_variant_dup_strv(value.get(), nullptr)).get());
            else if (g_variant_is_of_type(value.get(), G_VARIANT_TYPE_STRING))
                bindings << QString::fromUtf8(g_variant_get_string(value.get(), nullptr));
            for (const QString& binding : std::as_const(bindings))
                keys.insert(normalized(binding));
        }
    }
    for (const Shortcut& shortcut : custom())
        keys.insert(normalized(shortcut.binding));
    keys.remove(QString());
    return keys;
}

void GnomeShortcuts::add(const QString& name, const QString& command, const QString& binding) {
    const Owned<GSettings> list = settings(listSchema);
    if (!list)
        throw PlatformError(QStringLiteral("GNOME's keyboard settings aren't installed"));
    QStringList paths = strings(Owned<gchar*>(g_settings_get_strv(list.get(), listKey)).get());
    const QString path = freePath(paths);
    // The shortcut is complete before the list names it.
    const Owned<GSettings> one = settings(shortcutSchema, path);
    set(one.get(), "name", name);
    set(one.get(), "command", command);
    set(one.get(), "binding", binding);
    paths.append(path);
    QList<QByteArray> bytes;
    for (const QString& p : std::as_const(paths))
        bytes.append(p.toUtf8());
    std::vector<const gchar*> values;
    for (const QByteArray& b : std::as_const(bytes))
        values.push_back(b.constData());
    values.push_back(nullptr);
    if (!g_settings_set_strv(list.get(), listKey, values.data()))
        throw PlatformError(QStringLiteral("GNOME's settings don't let Pinlark add a keyboard "
                                           "shortcut (the list of custom shortcuts is locked)"));
    g_settings_sync();
}

namespace {

// Keys as GTK writes them, "<Shift><Super>s": the modifiers by their canonical names, and the
// key.
struct Keys {
    QStringList modifiers;
    QString key;
};

Keys parse(const QString& binding) {
    static const QRegularExpression modifier(QStringLiteral("^<([^>]*)>"));
    static const QHash<QString, QString> aliases{
        {QStringLiteral("mod1"), QStringLiteral("alt")},
        {QStringLiteral("mod4"), QStringLiteral("super")},
        {QStringLiteral("primary"), QStringLiteral("control")},
        {QStringLiteral("ctrl"), QStringLiteral("control")},
        {QStringLiteral("ctl"), QStringLiteral("control")}};
    Keys keys{{}, binding.trimmed()};
    for (QRegularExpressionMatch m; (m = modifier.match(keys.key)).hasMatch();
         keys.key = keys.key.mid(m.capturedLength())) {
        const QString name = m.captured(1).toLower();
        const QString canonical = aliases.value(name, name);
        if (!keys.modifiers.contains(canonical))
            keys.modifiers << canonical;
    }
    if (keys.key.size() == 1)
        keys.key = keys.key.toLower();
    return keys;
}

} // namespace

QString GnomeShortcuts::normalized(const QString& binding) {
    Keys keys = parse(binding);
    if (keys.key.isEmpty())
        return {};
    keys.modifiers.sort();
    QString out;
    for (const QString& modifier : std::as_const(keys.modifiers))
        out += QLatin1Char('<') + modifier + QLatin1Char('>');
    return out + keys.key;
}

QString GnomeShortcuts::keysText(const QString& binding) {
    const Keys keys = parse(binding);
    static const QHash<QString, Qt::KeyboardModifier> qtModifiers{
        {QStringLiteral("super"), Qt::MetaModifier},
        {QStringLiteral("meta"), Qt::MetaModifier},
        {QStringLiteral("alt"), Qt::AltModifier},
        {QStringLiteral("shift"), Qt::ShiftModifier},
        {QStringLiteral("control"), Qt::ControlModifier}};
    Qt::KeyboardModifiers modifiers;
    for (const QString& modifier : keys.modifiers)
        modifiers |= qtModifiers.value(modifier, Qt::NoModifier);
    const QKeySequence key = QKeySequence::fromString(keys.key, QKeySequence::PortableText);
    if (key.isEmpty() || key[0].key() == Qt::Key_unknown)
        return binding;
    return QKeySequence(QKeyCombination(modifiers, key[0].key()))
        .toString(QKeySequence::NativeText);
}

QString GnomeShortcuts::freePath(const QStringList& used) {
    for (int i = 0;; ++i)
        if (!used.contains(pathBase.arg(i)))
            return pathBase.arg(i);
}

bool GnomeShortcuts::runs(const QString& command, const QString& program, const QString& argument) {
    // GNOME 43's settings daemon splits a command as a shell would and takes a '%' as it is;
    // GLib, and so a daemon that hands the command to it unescaped, takes "%u" for a field code.
    // A command with a '%' may run something else than it seems to.
    if (command.contains(QLatin1Char('%')))
        return false;
    gchar** argv = nullptr;
    int argc = 0;
    if (!g_shell_parse_argv(command.toUtf8().constData(), &argc, &argv, nullptr))
        return false;
    const QStringList words = strings(Owned<gchar*>(argv).get());
    if (words.size() != 2 || words[1] != argument)
        return false;
    QString path = words[0];
    if (!path.contains(QLatin1Char('/')))
        path = QStandardPaths::findExecutable(path);
    const QString ours = QFileInfo(program).canonicalFilePath();
    return !path.isEmpty() && !ours.isEmpty() && QFileInfo(path).canonicalFilePath() == ours;
}

QString GnomeShortcuts::commandLine(const QString& program, const QString& argument) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9/._+-]+$"));
    const QString quoted =
        plain.match(program).hasMatch()
            ? program
            : QString::fromUtf8(Owned<gchar>(g_shell_quote(program.toUtf8().constData())).get());
    return quoted + QLatin1Char(' ') + argument;
}

const QStringList GnomeHotKeyService::candidates = {QStringLiteral("<Super><Alt>l"),
                                                    QStringLiteral("<Shift><Super>l"),
                                                    QStringLiteral("<Shift><Super>s")};
const QStringList GnomeHotKeyService::saveCandidates = {QStringLiteral("<Shift><Super>s"),
                                                        QStringLiteral("<Shift><Super>v"),
                                                        QStringLiteral("<Alt><Super>v")};

namespace {

const QString libraryArgument = QStringLiteral("--toggle-library");
const QString saveArgument = QStringLiteral("--save-clipboard");

std::optional<QString> firstFree(const QStringList& candidates, const QSet<QString>& taken) {
    for (const QString& keys : candidates)
        if (!taken.contains(GnomeShortcuts::normalized(keys)))
            return keys;
    return std::nullopt;
}

} // namespace

GnomeHotKeyService::GnomeHotKeyService(std::unique_ptr<HotKeyService> own, QString program,
                                       QString bundle)
    : m_own(std::move(own))
    , m_program(std::move(program))
    , m_bundle(std::move(bundle)) {
    m_own->onTriggerChange = [this] {
        if (onTriggerChange)
            onTriggerChange();
    };
}

bool GnomeHotKeyService::registerHotKey(std::function<void()> pressed) {
    return m_own->registerHotKey(std::move(pressed));
}

std::optional<GnomeShortcuts::Shortcut>
GnomeHotKeyService::binding(const QString& argument) const {
    for (const GnomeShortcuts::Shortcut& shortcut : GnomeShortcuts::custom())
        if (!GnomeShortcuts::normalized(shortcut.binding).isEmpty() &&
            GnomeShortcuts::runs(shortcut.command, m_program, argument))
            return shortcut;
    return std::nullopt;
}

QString GnomeHotKeyService::name() const {
    if (m_own->trigger().isEmpty() && binding(libraryArgument))
        return QStringLiteral("GNOME's custom shortcut running Pinlark --toggle-library");
    return m_own->name();
}

QString GnomeHotKeyService::trigger() const {
    if (const QString own = m_own->trigger(); !own.isEmpty())
        return own;
    const auto found = binding(libraryArgument);
    return found ? GnomeShortcuts::keysText(found->binding) : QString();
}

GnomeHotKeyService::Keys GnomeHotKeyService::freeKeys() const {
    QSet<QString> taken = GnomeShortcuts::taken();
    Keys keys;
    keys.library = firstFree(candidates, taken);
    if (!keys.library)
        return keys;
    taken.insert(GnomeShortcuts::normalized(*keys.library));
    if (!binding(saveArgument))
        keys.save = firstFree(saveCandidates, taken);
    return keys;
}

bool GnomeHotKeyService::mayOffer() const {
    return trigger().isEmpty() && !m_program.isEmpty() && !m_program.contains(QLatin1Char('%')) &&
           !BundleLocation::folderOthersCanChange(m_bundle);
}

QString GnomeHotKeyService::offer() const {
    const auto keys = mayOffer() ? freeKeys().library : std::nullopt;
    return keys ? GnomeShortcuts::keysText(*keys) : QString();
}

QString GnomeHotKeyService::saveOffer() const {
    const auto keys = mayOffer() ? freeKeys().save : std::nullopt;
    return keys ? GnomeShortcuts::keysText(*keys) : QString();
}

void GnomeHotKeyService::acceptOffer() {
    // The shortcut would run whatever another user put at the program's path.
    if (const auto shared = BundleLocation::folderOthersCanChange(m_bundle))
        throw PlatformError(QStringLiteral("Other users can change %1, so Pinlark adds no "
                                           "shortcut that runs it from there")
                                .arg(*shared));
    if (m_program.contains(QLatin1Char('%')))
        throw PlatformError(QStringLiteral("GNOME may read the '%' in %1 as a placeholder; "
                                           "move Pinlark into a folder whose name has none")
                                .arg(m_program));
    const Keys keys = freeKeys();
    if (!keys.library)
        throw PlatformError(QStringLiteral("Other shortcuts now hold the keys Pinlark offered"));
    GnomeShortcuts::add(QStringLiteral("Pinlark: show or hide the library"),
                        GnomeShortcuts::commandLine(m_program, libraryArgument), *keys.library);
    if (keys.save)
        GnomeShortcuts::add(QStringLiteral("Pinlark: save the copied link"),
                            GnomeShortcuts::commandLine(m_program, saveArgument), *keys.save);
    if (onTriggerChange)
        onTriggerChange();
}

} // namespace pinlark
