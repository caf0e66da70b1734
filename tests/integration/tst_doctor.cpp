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
};

QTEST_GUILESS_MAIN(TestDoctor)
#include "tst_doctor.moc"
