#include "TestSupport.h"
#include "platform/linux/Seal.h"

#include <QDir>
#include <QFile>

namespace pinlark {

class TestSeal : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A changed file and a missing seal are refused in the installer's verification table.
    void check_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<bool>("nestedChecked");
        QTest::newRow("intact") << "" << true << true;
        QTest::newRow("missing file") << "remove" << false << true;
        QTest::newRow("file added") << "add" << false << true;
        QTest::newRow("mode changed") << "chmod" << false << true;
        QTest::newRow("link retargeted outside") << "relink" << false << true;
        QTest::newRow("link replaced by its file") << "unlink" << false << true;
        QTest::newRow("nested bundle changed, checked") << "nested" << false << true;
        QTest::newRow("nested bundle changed, not checked") << "nested" << true << false;
    }
    void check() {
        QFETCH(QString, change);
        QFETCH(bool, valid);
        QFETCH(bool, nestedChecked);
        QTemporaryDir dir;
        const QString app = dir.filePath(QStringLiteral("Pinlark.app"));
        const QString inner = app + QStringLiteral("/Contents/Helpers/Tool.app");
        QVERIFY(writeFile(app + QStringLiteral("/Contents/Info.plist"), "info"));
        QVERIFY(writeFile(app + QStringLiteral("/Contents/MacOS/Pinlark"), "exe"));
        QVERIFY(writeFile(inner + QStringLiteral("/Contents/MacOS/Tool"), "tool"));
        QVERIFY(QFile::link(QStringLiteral("../Info.plist"),
                            app + QStringLiteral("/Contents/MacOS/info")));
        QCOMPARE(Seal::write(inner), QString());
        QCOMPARE(Seal::write(app), QString());
        // The inner bundle's change is made under its own seal and the outer one resealed.
        const QString exe = app + QStringLiteral("/Contents/MacOS/Pinlark");
        const QString link = app + QStringLiteral("/Contents/MacOS/info");
        if (change == QLatin1String("remove")) {
            QFile::remove(exe);
        } else if (change == QLatin1String("add")) {
            QVERIFY(writeFile(app + QStringLiteral("/Contents/MacOS/extra"), "x"));
        } else if (change == QLatin1String("chmod")) {
            QVERIFY(QFile::setPermissions(exe, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        } else if (change == QLatin1String("relink")) {
            QFile::remove(link);
            QVERIFY(QFile::link(QStringLiteral("/etc/passwd"), link));
        } else if (change == QLatin1String("unlink")) {
            QFile::remove(link);
            QVERIFY(writeFile(link, "info"));
        } else if (change == QLatin1String("nested")) {
            QVERIFY(writeFile(inner + QStringLiteral("/Contents/MacOS/Tool"), "TOOL"));
            QCOMPARE(Seal::write(app), QString());
        }
        QCOMPARE(Seal::check(app, nestedChecked), valid);
    }

    void refusesToSealALinkLeavingTheBundle() {
        QTemporaryDir dir;
        const QString app = dir.filePath(QStringLiteral("Pinlark.app"));
        QDir().mkpath(app + QStringLiteral("/Contents"));
        QVERIFY(QFile::link(QStringLiteral("../../.."), app + QStringLiteral("/Contents/up")));
        QCOMPARE(Seal::write(app), QStringLiteral("Contents/up links outside the bundle"));
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestSeal)
#include "tst_seal.moc"
