#include "loginitem/LoginItem.h"
#include "platform/Platform.h"
#include "platform/fake/FakeServices.h"
#include "platform/linux/AutostartLoginItemService.h"
#include "support/LogCapture.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <unistd.h>

using namespace pinlark;
using Status = LoginItemService::Status;

Q_DECLARE_METATYPE(Status)

namespace {
QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}
} // namespace

// The autostart entry against a temporary $XDG_CONFIG_HOME, with a real executable file for
// the bundle.
class TestAutostart : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        TestState::reset();
        m_home.emplace();
        Platform::Services s;
        s.defaults = std::make_unique<FakeUserDefaults>();
        auto bundle = std::make_unique<FakeBundle>();
        m_bundle = bundle.get();
        s.bundle = std::move(bundle);
        s.loginItems = std::make_unique<AutostartLoginItemService>();
        Platform::install(std::move(s));
        useBundle(QStringLiteral("Pinlark.app"));
    }
    void cleanup() {
        // Let the temporary folder go even where a test took write access away.
        QFile::setPermissions(autostartDir(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        Platform::reset();
        m_home.reset();
        TestState::reset();
    }

    void entryPath() {
        QCOMPARE(AutostartLoginItemService::entryPath(),
                 m_home->config() + "/autostart/app.pinlark.Pinlark.desktop");
    }

    void registerAndUnregister_data() {
        QTest::addColumn<QString>("bundleName");
        QTest::addColumn<QString>("execSuffix"); // after the quoted temporary folder's path

        QTest::newRow("plain") << "Pinlark.app"
                               << "/Pinlark.app/Contents/MacOS/Pinlark\"";
        QTest::newRow("space and quotes")
            << "My \"Pin\" lark's.app"
            << "/My \\\\\"Pin\\\\\" lark's.app/Contents/MacOS/Pinlark\"";
        QTest::newRow("shell and field characters")
            << "$HOME `x` 100%u.app"
            << "/\\\\$HOME \\\\`x\\\\` 100%%u.app/Contents/MacOS/Pinlark\"";
    }
    void registerAndUnregister() {
        QFETCH(QString, bundleName);
        QFETCH(QString, execSuffix);
        useBundle(bundleName);
        LoginItemService& service = Platform::loginItems();
        QCOMPARE(service.status(), Status::NotRegistered);

        service.registerApp();
        QCOMPARE(service.status(), Status::Enabled);
        const QString entry = QString::fromUtf8(readFile(AutostartLoginItemService::entryPath()));
        QVERIFY2(entry.startsWith("[Desktop Entry]\n"), qPrintable(entry));
        QVERIFY(entry.contains("\nType=Application\n"));
        QVERIFY2(entry.contains("\nExec=\"" + m_apps + execSuffix + "\n"), qPrintable(entry));

        service.registerApp(); // again: still one valid entry
        QCOMPARE(service.status(), Status::Enabled);

        service.unregisterApp();
        QVERIFY(!QFile::exists(AutostartLoginItemService::entryPath()));
        QCOMPARE(service.status(), Status::NotRegistered);
        service.unregisterApp(); // nothing left to remove is no failure
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
        QTest::newRow("another copy, switched off")
            << head + "Exec=/opt/Pinlark.app/Contents/MacOS/Pinlark\nHidden=true\n"
            << Status::NotRegistered;
        QTest::newRow("Hidden=true") << head + "Exec={exe}\nHidden=true\n"
                                     << Status::RequiresApproval;
        QTest::newRow("switched off in GNOME")
            << head + "Exec={exe}\nX-GNOME-Autostart-enabled=false\n"
            << Status::RequiresApproval;
        QTest::newRow("not a desktop entry") << "Exec={exe}\n" << Status::NotRegistered;
        QTest::newRow("another group first")
            << "[Desktop Action x]\nExec={exe}\n" + head << Status::NotRegistered;
        QTest::newRow("not an application") << "[Desktop Entry]\nType=Link\nExec={exe}\n"
                                            << Status::NotRegistered;
        QTest::newRow("no Exec") << head << Status::NotRegistered;
        QTest::newRow("broken quoting") << head + "Exec=\"{exe}\n" << Status::NotRegistered;
    }
    void existingEntry() {
        QFETCH(QString, content);
        QFETCH(Status, status);
        const QString path = AutostartLoginItemService::entryPath();
        writeFile(path, content.replace("{exe}", m_bundle->executable).toUtf8());
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

    // Failures reach the log lines of LoginItem with the service's description, and the wish
    // is stored whatever happened.
    void failures_data() {
        QTest::addColumn<QString>("obstacle");
        QTest::addColumn<bool>("on");
        QTest::addColumn<QString>("logPrefix");

        const QString reg =
            "[Pinlark] login item register failed: Could not write the autostart entry ";
        const QString unreg =
            "[Pinlark] login item unregister failed: Could not remove the autostart entry ";
        QTest::newRow("register, read-only folder") << "read-only" << true << reg;
        QTest::newRow("unregister, read-only folder") << "read-only" << false << unreg;
        QTest::newRow("register, autostart is a file") << "file" << true << reg;
        QTest::newRow("register, a folder in the entry's place") << "folder" << true << reg;
        QTest::newRow("unregister, a folder in the entry's place") << "folder" << false << unreg;
    }
    void failures() {
        QFETCH(QString, obstacle);
        QFETCH(bool, on);
        QFETCH(QString, logPrefix);
        const QString path = AutostartLoginItemService::entryPath();
        if (obstacle == "read-only") {
            if (geteuid() == 0)
                QSKIP("root writes into read-only folders");
            Platform::loginItems().registerApp();
            QVERIFY(QFile::setPermissions(autostartDir(), QFile::ReadOwner | QFile::ExeOwner));
        } else if (obstacle == "file") {
            writeFile(autostartDir(), "not a folder");
        } else {
            writeFile(path + "/inside", "x");
        }
        const QByteArray before = readFile(path);
        LogCapture capture;

        LoginItem::set(on);

        QCOMPARE(capture.lines.size(), 1);
        QVERIFY2(capture.lines.first().startsWith(logPrefix + path + ": "),
                 qPrintable(capture.lines.first()));
        QCOMPARE(Platform::defaults().boolean(LoginItem::desiredKey), std::optional<bool>(on));
        QCOMPARE(readFile(path), before);
    }

private:
    QString autostartDir() const { return m_home->config() + "/autostart"; }

    // Makes `name` the running bundle, with a real executable inside.
    void useBundle(const QString& name) {
        m_apps = m_home->path() + "/Apps";
        m_bundle->bundlePath = m_apps + "/" + name;
        m_bundle->executable = m_bundle->bundlePath + "/Contents/MacOS/Pinlark";
        writeFile(m_bundle->executable, "#!/bin/sh\n");
    }

    std::optional<TestHome> m_home;
    FakeBundle* m_bundle = nullptr;
    QString m_apps;
};

QTEST_GUILESS_MAIN(TestAutostart)
#include "tst_autostart.moc"
