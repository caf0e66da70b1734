#include "platform/Error.h"
#include "platform/fake/FakeServices.h"
#include "platform/linux/GnomeShortcuts.h"
#include "support/TestSupport.h"

#include <QProcess>

#include <gio/gio.h>

using namespace pinlark;

namespace {

const QString listSchema = u"org.gnome.settings-daemon.plugins.media-keys"_s;
const QString shortcutSchema = listSchema + u".custom-keybinding"_s;
const QString base = u"/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/"_s;

// What GNOME's own settings tool reads from the store: a peer of the app, not its code.
QString gsettings(const QStringList& arguments) {
    QProcess p;
    p.start(u"gsettings"_s, arguments);
    p.waitForFinished();
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

void setStrings(const char* key, const QStringList& values) {
    GSettings* s = g_settings_new(listSchema.toUtf8().constData());
    QList<QByteArray> bytes;
    std::vector<const gchar*> list;
    for (const QString& v : values)
        bytes.append(v.toUtf8());
    for (const QByteArray& b : std::as_const(bytes))
        list.push_back(b.constData());
    list.push_back(nullptr);
    g_settings_set_strv(s, key, list.data());
    g_object_unref(s);
}

// The shell's own keys for the notification list: GNOME's (Super+V, Super+M) or `binding`.
void setShellKeys(const QString& binding) {
    GSettings* s = g_settings_new("org.gnome.shell.keybindings");
    if (binding.isEmpty()) {
        g_settings_reset(s, "toggle-message-tray");
    } else {
        const QByteArray bytes = binding.toUtf8();
        const gchar* list[] = {bytes.constData(), nullptr};
        g_settings_set_strv(s, "toggle-message-tray", list);
    }
    g_object_unref(s);
}

void setString(const QString& path, const char* key, const QString& value) {
    GSettings* s =
        g_settings_new_with_path(shortcutSchema.toUtf8().constData(), path.toUtf8().constData());
    g_settings_set_string(s, key, value.toUtf8().constData());
    g_object_unref(s);
}

// A scene of offer()'s table and what comes of it.
struct Scene {
    QStringList screenReader{}, customs{};
    QString shell{};
    bool ownKeys = false, shared = false;
    QString offered{}, saveOffered{}, keys{};
    QStringList added{};
};

} // namespace

// The offer and the shortcut it adds, in a GNOME session's settings store (a key file in the
// test's home, in place of dconf) with the schemas GNOME installs.
class TestGnomeShortcuts : public QObject {
    Q_OBJECT

    TestHome m_home;
    QString m_program;

private Q_SLOTS:
    void initTestCase() {
        qputenv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
        qputenv("GSETTINGS_BACKEND", "keyfile");
        QVERIFY2(GnomeShortcuts::available(), "GNOME's settings schemas are not installed");
        m_program = m_home.path() + u"/My Apps/Pinlark.app/Contents/MacOS/Pinlark"_s;
        QVERIFY(writeFile(m_program, "#!/bin/sh\n", 0755));
    }

    // Each row: the screen reader's keys, the custom shortcuts there are ("keys|command" at
    // custom0, custom1…; "-" a gap in the list; %1 this copy's program by another path); whether
    // the app holds keys of its own; then the keys offered for the library and for saving the
    // copied link, the library's keys afterwards (those offered, unless given) and where the
    // offer, taken, adds the two. A copy in a folder others can change offers nothing, and adds
    // nothing when asked. GNOME holds Super+Alt+S for the screen reader out of the box,
    // Super+Alt+L for nothing; keys match however they are spelt.
    void offer_data() {
        QTest::addColumn<Scene>("scene");
        const QString altSuper = u"Meta+Alt+L"_s, shiftL = u"Meta+Shift+L"_s,
                      shiftS = u"Meta+Shift+S"_s;
        const auto row = [](const char* name, const Scene& scene) {
            QTest::newRow(name) << scene;
        };
        row("GNOME's defaults", {.screenReader = {u"<Alt><Super>s"_s}, .offered = altSuper,
                                 .saveOffered = shiftS, .added = {u"custom0"_s, u"custom1"_s}});
        row("taken, spelt differently",
            {.customs = {u"<Super><Mod1>L|true"_s}, .offered = shiftL, .saveOffered = shiftS,
             .added = {u"custom1"_s, u"custom2"_s}});
        row("free, after a gap in the list",
            {.customs = {u"-"_s, u"<Control>q|true"_s}, .offered = altSuper, .saveOffered = shiftS,
             .added = {u"custom0"_s, u"custom2"_s}});
        row("the keys for saving taken but the last",
            {.customs = {u"<Shift><Super>s|c"_s, u"<Super><Shift>V|d"_s}, .offered = altSuper,
             .saveOffered = u"Meta+Alt+V"_s, .added = {u"custom2"_s, u"custom3"_s}});
        row("the library takes the first key for saving",
            {.customs = {u"<Alt><Super>l|a"_s, u"<Shift><Super>l|b"_s}, .offered = shiftS,
             .saveOffered = u"Meta+Shift+V"_s, .added = {u"custom2"_s, u"custom3"_s}});
        row("saving there already",
            {.customs = {u"<Control><Super>c|'%1' --save-clipboard"_s}, .offered = altSuper,
             .added = {u"custom1"_s}});
        row("the shell's own keys", {.shell = u"<Super><Alt>L"_s, .offered = shiftL,
                                     .saveOffered = shiftS, .added = {u"custom0"_s, u"custom1"_s}});
        row("every candidate taken",
            {.screenReader = {u"<Alt><Super>s"_s},
             .customs = {u"<Shift><Super>L|a"_s, u"<alt><super>l|'%1' --quick-save"_s,
                         u"<Super><Shift>s|b"_s}});
        row("there already", {.customs = {u"<Shift><Super>p|'%1' --toggle-library"_s},
                              .keys = u"Meta+Shift+P"_s});
        row("the app's own keys", {.ownKeys = true, .keys = u"Alt+Super+L"_s});
        row("a copy others can change", {.shared = true});
    }
    void offer() {
        QFETCH(Scene, scene);
        const auto& [screenReader, customs, shell, ownKeys, shared, offered, saveOffered, given,
                     added] = scene;
        const QString keys = given.isEmpty() ? offered : given;
        setStrings("screenreader", screenReader);
        setShellKeys(shell);
        QStringList paths;
        const QString elsewhere = QFileInfo(m_program).absolutePath() + u"/../MacOS/Pinlark"_s;
        for (int i = 0; i < 4; ++i) {
            const QString path = base + u"custom%1/"_s.arg(i);
            const QStringList parts = customs.value(i).split(u'|');
            setString(path, "binding", parts.value(0));
            setString(path, "command", parts.value(1).replace(u"%1"_s, elsewhere));
            setString(path, "name", parts.value(1).isEmpty() ? QString() : u"Theirs"_s);
            if (i < customs.size() && customs[i] != u"-")
                paths << path;
        }
        setStrings("custom-keybindings", paths);
        const auto shortcut = [](const QString& path) {
            return gsettings({u"list-recursively"_s, shortcutSchema + u":"_s + path});
        };
        const QString before = shortcut(paths.value(0, base));

        auto own = std::make_unique<FakeHotKeyService>();
        if (ownKeys)
            own->registerHotKey([] {});
        const QString folder = m_home.path() + u"/My Apps"_s;
        QFile::setPermissions(folder, QFile::Permissions(shared ? 0x7777 : 0x7755));
        const auto restore =
            qScopeGuard([&] { QFile::setPermissions(folder, QFile::Permissions(0x7755)); });
        GnomeHotKeyService service(std::move(own), m_program, folder + u"/Pinlark.app"_s);
        int changes = 0;
        service.onTriggerChange = [&] { ++changes; };
        QCOMPARE(service.offer(), offered);
        QCOMPARE(service.saveOffer(), saveOffered);
        if (shared)
            QVERIFY_THROWS_EXCEPTION(PlatformError, service.acceptOffer());
        if (!offered.isEmpty()) {
            QCOMPARE(service.trigger(), QString());
            service.acceptOffer();
            QCOMPARE(changes, 1);
            QCOMPARE(service.offer(), QString());
            QCOMPARE(service.saveOffer(), QString());
        }
        QCOMPARE(service.trigger(), keys);
        // Named after GNOME's shortcut only where that gives the keys, not the app's own.
        QCOMPARE(service.name() == u"GNOME's custom shortcut running Pinlark --toggle-library"_s,
                 !keys.isEmpty() && !ownKeys);

        // As GNOME reads it: the new shortcuts listed after the others, which stay as they were.
        const int theirs = int(paths.size());
        for (const QString& path : std::as_const(added))
            paths << base + path + u"/"_s;
        QStringList quoted;
        for (const QString& path : std::as_const(paths))
            quoted << u"'%1'"_s.arg(path);
        QCOMPARE(gsettings({u"get"_s, listSchema, u"custom-keybindings"_s}),
                 paths.isEmpty() ? u"@as []"_s : u"[%1]"_s.arg(quoted.join(u", "_s)));
        const QStringList written[] = {
            {u"--toggle-library"_s, u"'Pinlark: show or hide the library'"_s, offered},
            {u"--save-clipboard"_s, u"'Pinlark: save the copied link'"_s, saveOffered}};
        for (int i = 0; i < added.size(); ++i) {
            const QString at = shortcutSchema + u":"_s + paths[theirs + i];
            QCOMPARE(gsettings({u"get"_s, at, u"command"_s}),
                     u"\"'%1' %2\""_s.arg(m_program, written[i][0]));
            QCOMPARE(gsettings({u"get"_s, at, u"name"_s}), written[i][1]);
            QCOMPARE(GnomeShortcuts::keysText(gsettings({u"get"_s, at, u"binding"_s}).remove(u'\'')),
                     written[i][2]);
        }
        if (theirs > 0)
            QCOMPARE(shortcut(paths.first()), before);
    }

    // The command written for a copy runs that copy with its one argument, and is recognised as
    // this copy's, whether it is split as GNOME 43's settings daemon does (as a shell would) or
    // started as GLib starts a desktop entry's Exec (field codes expanded first). The two read a
    // '%' differently: a copy whose path holds one is offered no shortcut.
    void commandLine_data() {
        QTest::addColumn<QString>("folder");
        for (const char* folder : {"Apps", "My Apps", "Tools 100%u", "it's \"quoted\"",
                                   "$HOME and `x`", "back\\slash %%f"})
            QTest::newRow(folder) << QString::fromUtf8(folder);
    }
    void commandLine() {
        QFETCH(QString, folder);
        const QString program = m_home.path() + u'/' + folder + u"/Pinlark"_s;
        const QString ran = m_home.path() + u"/ran"_s;
        QFile::remove(ran);
        qputenv("PINLARK_RAN", ran.toUtf8());
        QVERIFY(writeFile(program, "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\" > \"$PINLARK_RAN\"\n",
                          0755));
        const QString command = GnomeShortcuts::commandLine(program, u"--toggle-library"_s);
        if (folder.contains(u'%')) {
            GnomeHotKeyService service(std::make_unique<FakeHotKeyService>(), program,
                                       m_home.path());
            QCOMPARE(service.offer(), QString());
            QVERIFY_THROWS_EXCEPTION(PlatformError, service.acceptOffer());
            QVERIFY(!GnomeShortcuts::runs(command, program, u"--toggle-library"_s));
            return;
        }
        QVERIFY(GnomeShortcuts::runs(command, program, u"--toggle-library"_s));
        GError* error = nullptr;
        GAppInfo* app = g_app_info_create_from_commandline(command.toUtf8().constData(), nullptr,
                                                           G_APP_INFO_CREATE_NONE, &error);
        QVERIFY(app);
        const bool launched = g_app_info_launch(app, nullptr, nullptr, &error);
        g_object_unref(app);
        QVERIFY2(launched, error ? error->message : "");
        QTRY_COMPARE(readFile(ran), (program + u"\n--toggle-library\n"_s).toUtf8());
    }
};

QTEST_GUILESS_MAIN(TestGnomeShortcuts)
#include "tst_gnomeshortcuts.moc"
