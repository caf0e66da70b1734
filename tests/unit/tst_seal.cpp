#include "TestSupport.h"
#include "platform/linux/Seal.h"
#include "platform/linux/SealCodeSignature.h"

#include <QDir>
#include <QFile>

namespace pinlark {

class TestSeal : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // What is done to a bundle sealed and signed with the build's key, and whether it still
    // passes the updater's check. A changed file and a missing seal are refused in the
    // installer's verification table too.
    void check_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<bool>("nestedChecked");
        QTest::newRow("intact") << "" << true << true;
        QTest::newRow("missing file") << "remove" << false << true;
        QTest::newRow("file added") << "add" << false << true;
        QTest::newRow("file added beside the seal") << "add beside" << false << true;
        QTest::newRow("mode changed") << "chmod" << false << true;
        QTest::newRow("link retargeted outside") << "relink" << false << true;
        QTest::newRow("link replaced by its file") << "unlink" << false << true;
        QTest::newRow("nested bundle changed, checked") << "nested" << false << true;
        QTest::newRow("nested bundle changed, not checked") << "nested" << true << false;
        QTest::newRow("signed by another key") << "other key" << false << true;
        QTest::newRow("sealed, not signed") << "unsigned" << false << true;
        // A file changed and the seal written anew to match it, beside the old signature.
        QTest::newRow("seal changed after signing") << "reseal" << false << true;
        QTest::newRow("signature of 63 bytes") << "shorter" << false << true;
        QTest::newRow("signature of 65 bytes") << "longer" << false << true;
    }
    void check() {
        QFETCH(QString, change);
        QFETCH(bool, valid);
        QFETCH(bool, nestedChecked);
        QTemporaryDir dir;
        const QString app = dir.filePath(QStringLiteral("Pinlark.app"));
        const QString inner = app + QStringLiteral("/Contents/Helpers/Tool.app");
        const QString signature = app + u"/"_s + QLatin1String(Seal::signaturePath);
        const QString buildKey = QStringLiteral(PINLARK_SIGNING_KEY_PATH);
        const auto seal = [&](const QString& key) {
            const QString error = Seal::write(app);
            return error.isEmpty() ? Seal::sign(app, key) : error;
        };
        QVERIFY(writeFile(app + QStringLiteral("/Contents/Info.plist"), "info"));
        QVERIFY(writeFile(app + QStringLiteral("/Contents/MacOS/Pinlark"), "exe"));
        QVERIFY(writeFile(inner + QStringLiteral("/Contents/MacOS/Tool"), "tool"));
        QVERIFY(QFile::link(QStringLiteral("../Info.plist"),
                            app + QStringLiteral("/Contents/MacOS/info")));
        QCOMPARE(Seal::write(inner), QString());
        QCOMPARE(seal(buildKey), QString());
        const QByteArray signed64 = readFile(signature);
        // The inner bundle's change is made under its own seal and the outer one resealed.
        const QString exe = app + QStringLiteral("/Contents/MacOS/Pinlark");
        const QString link = app + QStringLiteral("/Contents/MacOS/info");
        if (change == QLatin1String("remove")) {
            QFile::remove(exe);
        } else if (change == QLatin1String("add")) {
            QVERIFY(writeFile(app + QStringLiteral("/Contents/MacOS/extra"), "x"));
        } else if (change == QLatin1String("add beside")) {
            QVERIFY(writeFile(app + u"/Contents/_CodeSignature/CodeResources.old"_s, "x"));
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
            QCOMPARE(seal(buildKey), QString());
        } else if (change == QLatin1String("other key")) {
            const QString other = dir.filePath(u"other.pem"_s);
            QVERIFY(writeSigningKey(other));
            QCOMPARE(seal(other), QString());
        } else if (change == QLatin1String("unsigned")) {
            QCOMPARE(Seal::write(app), QString());
        } else if (change == QLatin1String("reseal")) {
            QVERIFY(writeFile(exe, "EXE"));
            QCOMPARE(Seal::write(app), QString());
            QVERIFY(writeFile(signature, signed64));
        } else if (change == QLatin1String("shorter")) {
            QVERIFY(writeFile(signature, signed64.chopped(1)));
        } else if (change == QLatin1String("longer")) {
            QVERIFY(writeFile(signature, signed64 + '\0'));
        }
        SealCodeSignature code;
        QCOMPARE(code.createStaticCode(app) &&
                     code.checkValidity(app, nestedChecked ? CodeSignature::CheckNestedCode : 0u),
                 valid);
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
