#include "loginitem/LoginItem.h"
#include "platform/Platform.h"
#include "platform/linux/AutostartLoginItemService.h"
#include "support/LogCapture.h"
#include "support/TestSupport.h"

#include <QFile>

using namespace pinlark;
using Status = LoginItemService::Status;

// The autostart entry against a temporary $XDG_CONFIG_HOME, with a real executable file for
// the bundle.
class TestAutostart : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        TestState::reset();
        m_home.emplace();
        Platform::Services real;
        real.loginItems = std::make_unique<AutostartLoginItemService>();
        m_bundle = FakePlatform::install(std::move(real)).bundle;
        useBundle(u"Pinlark.app"_s);
    }
    void cleanup() {
        Platform::reset();
        m_home.reset();
        TestState::reset();
    }

    // Switched on and off through LoginItem, which stores the wish; switching twice leaves
    // one valid entry, and nothing left to remove is no failure.
    void switchOnAndOff() {
        useBundle(u"My \"Pin\" $HOME 100%u.app"_s);
        LoginItemService& service = Platform::loginItems();
        QCOMPARE(service.status(), Status::NotRegistered);
        LogCapture capture;
        LoginItem::set(true);
        LoginItem::set(true);
        QCOMPARE(service.status(), Status::Enabled);
        QCOMPARE(Platform::defaults().boolean(LoginItem::desiredKey), true);
        const QString path = m_home->config() + "/autostart/app.pinlark.Pinlark.desktop";
        QCOMPARE(readFile(path),
                 "[Desktop Entry]\nType=Application\nName=Pinlark\nExec=\"" + m_apps.toUtf8() +
                     "/My \\\\\"Pin\\\\\" \\\\$HOME 100%%u.app/Contents/MacOS/Pinlark\"\n");
        LoginItem::set(false);
        LoginItem::set(false);
        QVERIFY(!QFile::exists(path));
        QCOMPARE(service.status(), Status::NotRegistered);
        QCOMPARE(Platform::defaults().boolean(LoginItem::desiredKey), false);
        QCOMPARE(capture.lines, QStringList());
    }

    // Entries found on disk, as another copy, the user or the desktop left them. Registering
    // leaves an enabled entry for this copy, unless the user switched this copy's entry off.
    void existingEntry_data() {
        QTest::addColumn<QString>("content"); // {exe} stands for this copy's executable
        QTest::addColumn<Status>("status");

        const QString head = "[Desktop Entry]\nType=Application\nName=Pinlark\n";
        QTest::newRow("this copy") << head + "Exec={exe}\n" << Status::Enabled;
        QTest::newRow("comments, spacing, arguments")
            << "# written by hand\n\n[Desktop Entry]\nName = Pinlark\nType = Application\n"
               "Exec = \"{exe}\" --background %U\n[Desktop Action x]\nExec=/bin/false\n"
            << Status::Enabled;
        QTest::newRow("another copy") << head + "Exec=/opt/Pinlark.app/Contents/MacOS/Pinlark\n"
                                      << Status::NotRegistered;
        QTest::newRow("Hidden=true") << head + "Exec={exe}\nHidden=true\n"
                                     << Status::RequiresApproval;
        QTest::newRow("switched off in GNOME")
            << head + "Exec={exe}\nX-GNOME-Autostart-enabled=false\n"
            << Status::RequiresApproval;
        QTest::newRow("not a desktop entry") << "Exec={exe}\n" << Status::NotRegistered;
    }
    void existingEntry() {
        QFETCH(QString, content);
        QFETCH(Status, status);
        const QString path = AutostartLoginItemService::entryPath();
        QVERIFY(writeFile(path, content.replace("{exe}", m_bundle->executable).toUtf8()));
        LoginItemService& service = Platform::loginItems();
        QCOMPARE(service.status(), status);

        const QByteArray before = readFile(path);
        service.registerApp();
        QCOMPARE(service.status(), status == Status::RequiresApproval ? status : Status::Enabled);
        QVERIFY(status != Status::RequiresApproval || readFile(path) == before);
    }

    // A failure is logged once, and the wish is stored whatever happened. What is in the way
    // stays there untouched; without the executable nothing is written.
    void failures_data() {
        // In the config folder; none: no executable; "shared": the app's folder writable by all
        // (the other ways others may change a bundle: the place guards' table).
        QTest::addColumn<QString>("blocker");
        QTest::addColumn<bool>("on");
        QTest::addColumn<QString>("logged"); // a part of the line; {home}: the test's home
        const QString entry = u"the autostart entry {home}/config/autostart/"_s;
        QTest::newRow("register, autostart is a file")
            << u"/autostart"_s << true << u"register failed: Could not write "_s + entry;
        QTest::newRow("unregister, a folder in the entry's place")
            << u"/autostart/app.pinlark.Pinlark.desktop/inside"_s << false
            << u"unregister failed: Could not remove "_s + entry;
        QTest::newRow("register, executable missing")
            << QString() << true << u"{home}/Apps/Pinlark.app/Contents/MacOS/Pinlark could not"_s;
        QTest::newRow("register, from a folder others may write")
            << u"shared"_s << true << u"Other users can change {home}/Apps, so"_s;
    }
    void failures() {
        QFETCH(QString, blocker);
        QFETCH(bool, on);
        QFETCH(QString, logged);
        const bool shared = blocker == u"shared"_s;
        if (shared)
            QVERIFY(QFile::setPermissions(m_apps, QFileDevice::Permissions(0x7777)));
        else
            QVERIFY(blocker.isEmpty() ? QFile::remove(m_bundle->executable)
                                      : writeFile(m_home->config() + blocker, "in the way"));
        LogCapture capture;
        LoginItem::set(on);
        QCOMPARE(capture.lines.size(), 1); // one line, not a failure per retry
        QVERIFY2(capture.lines[0].startsWith(u"[Pinlark] login item "_s) &&
                     capture.lines[0].contains(logged.replace("{home}"_L1, m_home->path())),
                 qPrintable(capture.lines[0]));
        QCOMPARE(Platform::defaults().boolean(LoginItem::desiredKey), on);
        if (blocker.isEmpty())
            QCOMPARE(Platform::loginItems().status(), Status::NotFound);
        QVERIFY(blocker.isEmpty() || shared ? !QFile::exists(AutostartLoginItemService::entryPath())
                                            : readFile(m_home->config() + blocker) == "in the way");
    }

private:
    // Makes `name` the running bundle, with a real executable inside.
    void useBundle(const QString& name) {
        m_apps = m_home->path() + "/Apps";
        m_bundle->bundlePath = m_apps + "/" + name;
        m_bundle->executable = m_bundle->bundlePath + "/Contents/MacOS/Pinlark";
        QVERIFY(writeFile(m_bundle->executable, "#!/bin/sh\n"));
    }

    std::optional<TestHome> m_home;
    FakeBundle* m_bundle = nullptr;
    QString m_apps;
};

QTEST_GUILESS_MAIN(TestAutostart)
#include "tst_autostart.moc"
