#include "TestSupport.h"

#include <QDirIterator>
#include <QProcess>

using namespace pinlark;

// The doctor reads and reports; it moves, removes, creates and writes nothing, even where the
// app would (a bad outbox kept aside, a killed writer's file removed).
class TestDoctor : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void changesNothing() {
        QTemporaryDir home;
        const QString data = home.filePath(u"data/app.pinlark.Pinlark"_s);
        const QString config = home.filePath(u"config/app.pinlark.Pinlark.json"_s);
        QVERIFY(writeFile(data + u"/outbox.json"_s, "{\"links\":"));
        QVERIFY(writeFile(config, "{\"origin\": \"http://127.0.0.1:1\"}"));
        QVERIFY(writeFile(config + u".writing-dead01"_s, "{"));
        const auto files = [&] {
            QStringList found;
            for (QDirIterator it(home.path(),
                                 QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                                 QDirIterator::Subdirectories);
                 it.hasNext();)
                found << it.next() + u' ' + QString::fromUtf8(readFile(it.filePath()));
            found.sort();
            return found;
        };
        const QStringList before = files();
        QProcess doctor;
        doctor.setEnvironment(QProcess::systemEnvironment()
                              << u"XDG_DATA_HOME="_s + home.filePath(u"data"_s)
                              << u"XDG_CONFIG_HOME="_s + home.filePath(u"config"_s));
        doctor.start(QStringLiteral(PINLARK_APP_PATH "/Contents/MacOS/Pinlark"), {u"--doctor"_s});
        QVERIFY(doctor.waitForFinished(60000));
        const QString output = QString::fromLocal8Bit(doctor.readAllStandardOutput());
        QVERIFY2(output.contains(u"outbox          "_s + data +
                                 u"/outbox.json can't be read (not a list of links)"_s),
                 qPrintable(output));
        QCOMPARE(files(), before);
    }

    // A notification server the session bus starts on demand is one.
    void notificationServer_data() {
        QTest::addColumn<bool>("activatable");
        QTest::addColumn<QString>("line");
        QTest::newRow("started on demand")
            << true << u"org.freedesktop.Notifications starts when the first notice comes"_s;
        QTest::newRow("none") << false << u"none: update notices come as windows"_s;
    }
    void notificationServer() {
        QFETCH(bool, activatable);
        QFETCH(QString, line);
        QTemporaryDir home;
        if (activatable)
            QVERIFY(writeFile(home.filePath(u"data/dbus-1/services/notifications.service"_s),
                              "[D-BUS Service]\nName=org.freedesktop.Notifications\n"
                              "Exec=/bin/false\n"));
        // A session bus of its own that knows the services of the test's folder alone.
        const QString config = home.filePath(u"bus.conf"_s);
        QVERIFY(writeFile(config, u"<busconfig><type>session</type><listen>unix:tmpdir=%1</listen>"
                                  "<servicedir>%1/data/dbus-1/services</servicedir><policy "
                                  "context=\"default\"><allow send_destination=\"*\"/><allow "
                                  "receive_sender=\"*\"/><allow "
                                  "own=\"*\"/></policy></busconfig>"_s.arg(home.path())
                                      .toUtf8()));
        QProcess doctor;
        doctor.start(u"dbus-run-session"_s,
                     {u"--config-file="_s + config, u"--"_s,
                      QStringLiteral(PINLARK_APP_PATH "/Contents/MacOS/Pinlark"), u"--doctor"_s});
        QVERIFY(doctor.waitForFinished(60000));
        const QString output = QString::fromLocal8Bit(doctor.readAllStandardOutput());
        QVERIFY2(output.contains(u"notifications   "_s + line), qPrintable(output));
    }
};

QTEST_GUILESS_MAIN(TestDoctor)
#include "tst_doctor.moc"
