#include "loginitem/LoginItem.h"
#include "platform/Platform.h"
#include "platform/linux/AutostartLoginItemService.h"
#include "support/LogCapture.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QtTest>

using namespace pinlark;
using Status = LoginItemService::Status;

Q_DECLARE_METATYPE(Status)

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
        QCOMPARE(Platform::defaults().boolean(LoginItem::desiredKey), std::optional<bool>(true));
        const QString path = m_home->config() + "/autostart/app.pinlark.Pinlark.desktop";
        const QString entry = QString::fromUtf8(readFile(path));
        QVERIFY2(entry.startsWith("[Desktop Entry]\n") && entry.contains("\nType=Application\n"),
                 qPrintable(entry));
        QVERIFY2(
            entry.contains("\nExec=\"" + m_apps +
                           "/My \\\\\"Pin\\\\\" \\\\$HOME 100%%u.app/Contents/MacOS/Pinlark\"\n"),
            qPrintable(entry));
        LoginItem::set(false);
        LoginItem::set(false);
        QVERIFY(!QFile::exists(path));
        QCOMPARE(service.status(), Status::NotRegistered);
        QCOMPARE(Platform::defaults().boolean(LoginItem::desiredKey), std::optional<bool>(false));
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
        QTest::newRow("not a desktop entry") << "Exec={exe}\n" << Status::NotRegistered;
        QTest::newRow("not an application") << "[Desktop Entry]\nType=Link\nExec={exe}\n"
                                            << Status::NotRegistered;
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
        if (status == Status::RequiresApproval) {
            QCOMPARE(service.status(), status);
            QCOMPARE(readFile(path), before);
        } else {
            QCOMPARE(service.status(), Status::Enabled);
            QVERIFY(!readFile(path).contains("Hidden"));
        }
    }

    void executableMissing() {
        QVERIFY(QFile::remove(m_bundle->executable));
        LoginItemService& service = Platform::loginItems();
        QCOMPARE(service.status(), Status::NotFound);
        QVERIFY_THROWS_EXCEPTION(PlatformError, service.registerApp());
        QVERIFY(!QFile::exists(AutostartLoginItemService::entryPath()));
    }

    // A failure is logged once, and the wish is stored whatever happened.
    void failures_data() {
        QTest::addColumn<QString>("obstacle");
        QTest::addColumn<bool>("on");
        QTest::newRow("register, autostart is a file") << u"file"_s << true;
        QTest::newRow("unregister, a folder in the entry's place") << u"folder"_s << false;
    }
    void failures() {
        QFETCH(QString, obstacle);
        QFETCH(bool, on);
        // What is in the way stays there untouched.
        const QString blocker = obstacle == "file"
                                    ? autostartDir()
                                    : AutostartLoginItemService::entryPath() + "/inside";
        QVERIFY(writeFile(blocker, "in the way"));
        LogCapture capture;

        LoginItem::set(on);

        QCOMPARE(capture.lines.size(), 1); // one line, not a failure per retry
        QCOMPARE(Platform::defaults().boolean(LoginItem::desiredKey), std::optional<bool>(on));
        QCOMPARE(readFile(blocker), "in the way");
    }

private:
    QString autostartDir() const { return m_home->config() + "/autostart"; }

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
