#include "TestKey.h"
#include "TestSupport.h"
#include "platform/PropertyList.h"
#include "platform/linux/Seal.h"
#include "platform/linux/SealCodeSignature.h"

#include <QDir>
#include <QFile>

using namespace pinlark;
using Change = std::function<bool()>;

class TestSeal : public QObject {
    Q_OBJECT

    // A bundle sealed and signed with the tests' key before each test, holding a sealed bundle
    // of its own and a link that stays inside it.
    QTemporaryDir dir;
    const QString app = dir.filePath(u"Pinlark.app"_s),
                  inner = app + u"/Contents/Helpers/Tool.app"_s,
                  exe = app + u"/Contents/MacOS/Pinlark"_s, link = app + u"/Contents/MacOS/info"_s,
                  signature = app + u'/' + QLatin1String(Seal::signaturePath);
    QByteArray signed64;

    bool seal(const QString& key = QStringLiteral(PINLARK_TEST_KEY_PATH)) const {
        return Seal::write(app).isEmpty() && Seal::sign(app, key).isEmpty();
    }

private Q_SLOTS:
    void init() {
        QVERIFY(QDir(app).removeRecursively());
        QVERIFY(writeFile(app + u"/Contents/Info.plist"_s, "info") && writeFile(exe, "exe"));
        QVERIFY(writeFile(inner + u"/Contents/MacOS/Tool"_s, "tool"));
        QVERIFY(QFile::link(u"../Info.plist"_s, link));
        QVERIFY(Seal::write(inner).isEmpty() && seal());
        signed64 = readFile(signature);
    }

    // What is done to the bundle, and whether it still passes the updater's check.
    void check_data() {
        QTest::addColumn<Change>("change");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<bool>("nestedChecked");
        const auto row = [](const char* name, bool valid, Change change, bool nested = true) {
            QTest::newRow(name) << change << valid << nested;
        };
        row("intact", true, [] { return true; });
        row("missing file", false, [this] { return QFile::remove(exe); });
        row("file added", false,
            [this] { return writeFile(app + u"/Contents/MacOS/extra"_s, "x"); });
        row("file added beside the seal", false,
            [this] { return writeFile(signature.chopped(4) + u".old"_s, "x"); });
        row("mode changed", false, [this] {
            return QFile::setPermissions(exe, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        });
        row("link retargeted outside", false,
            [this] { return QFile::remove(link) && QFile::link(u"/etc/passwd"_s, link); });
        row("folder mode changed", false, [this] {
            return QFile::setPermissions(QFileInfo(exe).path(), QFileDevice::WriteOther);
        });
        row("empty folder added", false, [this] { return QDir(app).mkdir(u"Contents/Plugins"_s); });
        // Each link's text stays inside; the second leads out through the first. Refused when
        // sealing, and so signed by hand.
        row("link leaving through another link", false, [this] {
            const QString seal = signature.chopped(4), escape = u"a/up/../../../etc/passwd"_s;
            if (!QDir(app).mkdir(u"Contents/a"_s) ||
                !QFile::link(u".."_s, app + u"/Contents/a/up"_s) || !Seal::write(app).isEmpty())
                return false;
            QVariantMap all = readPropertyList(seal)->toMap(), files = all[u"files"_s].toMap();
            files.insert(u"Contents/esc"_s, QVariantMap{{u"symlink"_s, escape}});
            all.insert(u"files"_s, files);
            return QFile::link(escape, app + u"/Contents/esc"_s) &&
                   Seal::write(app) == u"Contents/esc links outside the bundle"_s &&
                   writeFile(seal, xmlPropertyList(all)) &&
                   Seal::sign(app, QStringLiteral(PINLARK_TEST_KEY_PATH)).isEmpty();
        });
        // Sealing follows a chain of links to its end, and refuses a loop.
        row("link chain staying inside", true,
            [this] { return QFile::link(u"info"_s, app + u"/Contents/MacOS/chain"_s) && seal(); });
        row("link loop", false, [this] {
            return QFile::link(u"loop"_s, app + u"/Contents/loop"_s) &&
                   Seal::write(app) == u"Contents/loop links outside the bundle"_s;
        });
        // The inner bundle's change is made under its own seal and the outer one resealed.
        const Change nested = [this] {
            return writeFile(inner + u"/Contents/MacOS/Tool"_s, "TOOL") && seal();
        };
        row("nested bundle changed, checked", false, nested);
        row("nested bundle changed, not checked", true, nested, false);
        row("signed by another key", false, [this] {
            return writeSigningKey(dir.filePath(u"other.pem"_s)) &&
                   seal(dir.filePath(u"other.pem"_s));
        });
        row("sealed, not signed", false, [this] { return Seal::write(app).isEmpty(); });
        // A file changed and the seal written anew to match it, beside the old signature.
        row("seal changed after signing", false, [this] {
            return writeFile(exe, "EXE") && Seal::write(app).isEmpty() &&
                   writeFile(signature, signed64);
        });
        row("signature of 63 bytes", false,
            [this] { return writeFile(signature, signed64.chopped(1)); });
    }
    void check() {
        QFETCH(Change, change);
        QFETCH(bool, valid);
        QFETCH(bool, nestedChecked);
        QVERIFY(change());
        SealCodeSignature code(testPublicKey);
        QCOMPARE(code.createStaticCode(app) &&
                     code.checkValidity(app, nestedChecked ? CodeSignature::CheckNestedCode : 0u),
                 valid);
    }

    // The app trusts the build's key, which signs the build's bundle, and never the tests' own.
    void trustedKey() {
        QVERIFY(!SealCodeSignature().checkValidity(app, 0));
        QVERIFY(SealCodeSignature().checkValidity(PINLARK_APP_PATH ""_L1,
                                                  CodeSignature::CheckNestedCode));
    }
};

QTEST_GUILESS_MAIN(TestSeal)
#include "tst_seal.moc"
