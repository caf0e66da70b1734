#include "TestSupport.h"
#include "Xvfb.h"
#include "platform/linux/DesktopRegistration.h"
#include "platform/linux/FileUserDefaults.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>

#include <sys/stat.h>

namespace pinlark {

// What a copy of the app writes on the user's desktop at each start, in a home of the test's own,
// for copies whose executable is a stand-in that logs its arguments; the launchers of GIO, KDE
// and xdg-utils start the entry written.
class TestDesktopRegistration : public QObject {
    Q_OBJECT

    std::optional<TestHome> home;
    QString entry, link, log;
    QStringList icons;

    // A copy of the app in `folder` (under the home); gives the bundle's path.
    QString copyIn(const QString& folder) {
        const QString app = home->path() + u'/' + folder + u"/Pinlark.app"_s;
        [&] {
            QVERIFY(writeFile(app + u"/Contents/MacOS/Pinlark"_s,
                              "#!/bin/sh\necho \"$@\" >>'" + log.toUtf8() + "'\n", 0755));
        }();
        return app;
    }

private Q_SLOTS:
    void init() {
        home.emplace();
        const QString data = home->data();
        entry = data + u"/applications/app.pinlark.Pinlark.desktop"_s;
        link = data + u"/app.pinlark.Pinlark/Pinlark"_s;
        log = home->path() + u"/log"_s;
        icons =
            QStringList{data + u"/icons/hicolor/symbolic/apps/app.pinlark.Pinlark-symbolic.svg"_s,
                        data + u"/icons/hicolor/scalable/apps/app.pinlark.Pinlark.svg"_s};
    }
    void cleanup() { home.reset(); }

    // Written once; a second start writes nothing, a moved copy rewrites the entry alone. The
    // entry opens nothing by default: it declares no type.
    void reconcile() {
        const QString app = copyIn(u"Apps"_s);
        QCOMPARE(DesktopRegistration::reconcile(app), QStringList{entry} + icons);
        QCOMPARE(DesktopRegistration::reconcile(app), QStringList());
        const QString moved = copyIn(u"Moved"_s);
        QCOMPARE(DesktopRegistration::reconcile(moved), QStringList{entry});
        QCOMPARE(QProcess::execute(u"desktop-file-validate"_s, {entry}), 0);
        const QByteArray text = readFile(entry);
        QVERIFY(text.contains("\nExec=" + moved.toUtf8() + "/Contents/MacOS/Pinlark %u\n"));
        QVERIFY(!text.contains("MimeType"));
    }

    // What happens to a registered copy before the next start. An entry that would start what
    // is not there, or what another user could put there, goes with its icons.
    void refused_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("removed");
        QTest::newRow("the copy deleted") << u"delete"_s << true;
        QTest::newRow("its folder writable by all") << u"0777"_s << true;
        QTest::newRow("its folder sticky, like /tmp") << u"1777"_s << true;
        QTest::newRow("its folder writable by the group") << u"0775"_s << true;
        QTest::newRow("a package's marker beside it") << u"package"_s << false;
    }
    void refused() {
        QFETCH(QString, change);
        QFETCH(bool, removed);
        const QString app = copyIn(u"Apps"_s), folder = QFileInfo(app).absolutePath();
        QCOMPARE(DesktopRegistration::reconcile(app), QStringList{entry} + icons);
        if (change == u"delete"_s)
            QVERIFY(QDir(app).removeRecursively());
        else if (change == u"package"_s)
            QVERIFY(writeFile(folder + u"/managed-by-package"_s, "pinlark\n"));
        else
            QCOMPARE(::chmod(QFile::encodeName(folder).constData(), change.toUInt(nullptr, 8)), 0);
        // Started from a folder all may write, a copy registers nothing of its own.
        const QString shared = copyIn(u"Shared"_s);
        QCOMPARE(::chmod(QFile::encodeName(QFileInfo(shared).absolutePath()).constData(), 0777), 0);
        QCOMPARE(DesktopRegistration::reconcile(shared),
                 removed ? QStringList{entry} + icons : QStringList());
        QCOMPARE(QFile::exists(entry), !removed);
    }

    // From a folder whose name has a space, the entry names a link to the executable, bare: the
    // launchers of GIO and KDE and xdg-open of xdg-utils 1.1.3 (which takes quotes for part of the
    // name) each start it with the link. xdg-open goes to Pinlark only where the user made it the
    // handler for the scheme.
    void launchers() {
        const QString app = copyIn(u"My Apps"_s);
        QCOMPARE(DesktopRegistration::reconcile(app), (QStringList{link, entry} + icons));
        QVERIFY(readFile(entry).contains("\nExec=" + link.toUtf8() + " %u\n"));
        XvfbServer x;
        QVERIFY(x.running());
        QVERIFY(writeFile(
            home->config() + u"/mimeapps.list"_s,
            "[Default Applications]\nx-scheme-handler/https=app.pinlark.Pinlark.desktop\n"));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"DISPLAY"_s, QString::fromUtf8(x.display()));
        for (const char* name : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "BROWSER",
                                 "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID"})
            environment.remove(QLatin1String(name));
        environment.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        const QList<QStringList> launchers{
            {u"gio"_s, u"launch"_s, entry, u"https://example.org/gio"_s},
            {u"kstart5"_s, u"--application"_s, u"app.pinlark.Pinlark"_s, u"--url"_s,
             u"https://example.org/kde"_s},
            {u"xdg-open"_s, u"https://example.org/xdg"_s}};
        QStringList started;
        for (QStringList command : launchers) {
            QProcess launcher;
            launcher.setProcessEnvironment(environment);
            launcher.setProcessChannelMode(QProcess::ForwardedChannels);
            launcher.start(command.takeFirst(), command);
            QVERIFY(launcher.waitForFinished(60000));
            QCOMPARE(launcher.exitCode(), 0);
            started.append(command.last() + u'\n');
            QVERIFY(QTest::qWaitFor(
                [&] { return readFile(log) == started.join(QString()).toUtf8(); }, 20000));
        }
    }

    // Everything registering and Open at Login wrote goes, the wish to open at login with it; the
    // report names what stays, the links waiting in the outbox among it.
    void uninstall() {
        QCOMPARE(DesktopRegistration::reconcile(copyIn(u"My Apps"_s)).size(), 4);
        const QString config = home->config(), data = home->data();
        QVERIFY(
            writeFile(config + u"/autostart/app.pinlark.Pinlark.desktop"_s, "[Desktop Entry]\n"));
        FileUserDefaults(FileUserDefaults::standardPath()).set(u"loginItemDesired"_s, true);
        QVERIFY(writeFile(data + u"/app.pinlark.Pinlark/outbox.json"_s, "[]"));
        QCOMPARE(DesktopRegistration::uninstall(),
                 u"Removed %1/autostart/app.pinlark.Pinlark.desktop\n"
                 "Removed %3\nRemoved %4\nRemoved %5\nRemoved %6\n"
                 "Turned off Open at Login\n"
                 "Left in place; delete them for Pinlark to forget you:\n"
                 "  preferences  %1/app.pinlark.Pinlark.json\n"
                 "  outbox       %2/app.pinlark.Pinlark/outbox.json\n"
                 "  web data     %2/app.pinlark.Pinlark\n"
                 "Pinlark.app itself stays where it is.\n"_s.arg(config, data, link, entry,
                                                                 icons[0], icons[1]));
        QCOMPARE(FileUserDefaults(FileUserDefaults::standardPath()).boolean(u"loginItemDesired"_s),
                 std::nullopt);
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestDesktopRegistration)
#include "tst_desktopregistration.moc"
