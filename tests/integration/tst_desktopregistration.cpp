#include "TestSupport.h"
#include "app/UninstallReport.h"
#include "platform/linux/DesktopRegistration.h"
#include "platform/linux/FileUserDefaults.h"

#include <QDir>

#include <sys/stat.h>

namespace pinlark {

// What a copy of the app writes on the user's desktop at each start, in a home of the test's own.
class TestDesktopRegistration : public QObject {
    Q_OBJECT

    std::optional<TestHome> home;
    QString entry, link;
    QStringList icons;

    // A copy of the app in `folder` under the home, its folder's mode `mode`; its path.
    QString copyIn(const QString& folder, uint mode = 0755) {
        const QString app = home->path() + u'/' + folder + u"/Pinlark.app"_s;
        writeFile(app + u"/Contents/MacOS/Pinlark"_s, "#!/bin/sh\n", 0755);
        ::chmod(QFile::encodeName(home->path() + u'/' + folder).constData(), mode);
        return app;
    }

private Q_SLOTS:
    void init() {
        home.emplace();
        const QString data = home->data(), apps = data + u"/icons/hicolor/%1/apps/"_s;
        entry = data + u"/applications/app.pinlark.Pinlark.desktop"_s;
        link = data + u"/app.pinlark.Pinlark/Pinlark"_s;
        icons = {apps.arg(u"symbolic"_s) + u"app.pinlark.Pinlark-symbolic.svg"_s,
                 apps.arg(u"scalable"_s) + u"app.pinlark.Pinlark.svg"_s};
    }
    void cleanup() { home.reset(); }

    // Written once; a second start writes nothing, a moved copy rewrites the entry alone, which
    // names it bare and declares no type it opens.
    void reconcile() {
        const QString app = copyIn(u"Apps"_s), moved = copyIn(u"Moved"_s);
        QCOMPARE(DesktopRegistration::reconcile(app), QStringList{entry} + icons);
        QCOMPARE(DesktopRegistration::reconcile(app), QStringList());
        QCOMPARE(DesktopRegistration::reconcile(moved), QStringList{entry});
        const QByteArray text = readFile(entry);
        QVERIFY(text.contains("\nExec=" + moved.toUtf8() + "/Contents/MacOS/Pinlark %u\n"));
        QVERIFY(!text.contains("MimeType"));
    }

    // What happens to a registered copy before a copy in a folder all may write starts, which
    // registers nothing of its own. An entry that would start what is not there, or what another
    // user could put there, goes with its icons.
    void refused_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("removed");
        QTest::newRow("the copy deleted") << u"delete"_s << true;
        // The other modes others may change a folder by: the place guards' own table.
        QTest::newRow("its folder writable by the group") << u"0775"_s << true;
        QTest::newRow("a package's marker beside it") << u"package"_s << false;
    }
    void refused() {
        QFETCH(QString, change);
        QFETCH(bool, removed);
        const QString app = copyIn(u"Apps"_s), folder = QFileInfo(app).absolutePath();
        QCOMPARE(DesktopRegistration::reconcile(app), QStringList{entry} + icons);
        if (change == u"delete"_s)
            QDir(app).removeRecursively();
        else if (change == u"package"_s)
            writeFile(folder + u"/managed-by-package"_s, "pinlark\n");
        else
            copyIn(u"Apps"_s, change.toUInt(nullptr, 8));
        QCOMPARE(DesktopRegistration::reconcile(copyIn(u"Shared"_s, 0777)),
                 removed ? QStringList{entry} + icons : QStringList());
        QCOMPARE(QFile::exists(entry), !removed);
    }

    // Everything registering and Open at Login wrote goes, the wish to open at login with it, and
    // the type cache and the folders that held nothing else; the report names what stays, the
    // links waiting in the outbox and the web engine's own profile among it.
    void uninstall() {
        QCOMPARE(DesktopRegistration::reconcile(copyIn(u"My Apps"_s)).size(), 4);
        const QString data = home->data(), outbox = data + u"/app.pinlark.Pinlark/outbox.json"_s,
                      autostart = home->config() + u"/autostart/app.pinlark.Pinlark.desktop"_s;
        writeFile(autostart, "[Desktop Entry]\n");
        writeFile(outbox, "[]");
        writeFile(data + u"/Pinlark/QtWebEngine/Default/Preferences"_s, "{}");
        FileUserDefaults(FileUserDefaults::standardPath()).set(u"loginItemDesired"_s, true);
        const QString report = UninstallReport::uninstall();
        for (const QString& gone : QStringList{autostart, link, entry, data + u"/applications"_s,
                                               data + u"/icons"_s} + icons)
            QVERIFY2(!QFile::exists(gone) && report.contains(u"Removed "_s + gone + u'\n'),
                     qPrintable(gone + u'\n' + report));
        QVERIFY(QFile::exists(outbox));
        QVERIFY2(report.contains(u"Turned off Open at Login\n"_s) &&
                     report.contains(u"  outbox       %1\n  web data     %2/app.pinlark.Pinlark\n"
                                     "  web engine   %2/Pinlark\n"_s.arg(outbox, data)),
                 qPrintable(report));
        QCOMPARE(FileUserDefaults(FileUserDefaults::standardPath()).boolean(u"loginItemDesired"_s),
                 std::nullopt);
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestDesktopRegistration)
#include "tst_desktopregistration.moc"
