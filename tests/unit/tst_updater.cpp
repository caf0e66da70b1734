#include "TestSupport.h"
#include "platform/fake/FakePlatform.h"
#include "service/DecodingError.h"
#include "update/Installer.h"
#include "update/Updater.h"

#include <QTest>

namespace pinlark {

class TestUpdater : public QObject {
    Q_OBJECT

    FakePlatform platform;

private Q_SLOTS:
    void init() {
        TestState::reset();
        platform = FakePlatform::install();
    }

    void isNewer_data() {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("newer");
        const auto row = [](const char* name, const char* a, const char* b, bool newer) {
            QTest::newRow(name) << QString::fromUtf8(a) << QString::fromUtf8(b) << newer;
        };
        row("1.10 over 1.9", "1.10", "1.9", true);
        row("1.9 under 1.10", "1.9", "1.10", false);
        row("1.2 equals 1.2.0", "1.2", "1.2.0", false);
        row("extra piece", "1.2.0.1", "1.2", true);
        row("2.0-beta over 1.9", "2.0-beta", "1.9", true);
        row("1.2-beta under 1.2", "1.2-beta", "1.2", false);
        row("leading space is 0", "1. 5", "1.0", false);
        row("missing piece over -1", "1", "1.-1", true);
        row("plus sign", "1.+3", "1.2", true);
        row("sign alone is 0", "1.+", "1.0", false);
        row("empty pieces dropped", "1..3", "1.2", true);
        row("empty not over 0", "", "0", false);
        row("beyond 64 bits is 0", "1.9223372036854775808", "1.1", false);
        row("64-bit maximum", "1.9223372036854775807", "1.1", true);
    }
    void isNewer() {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, newer);
        QCOMPARE(Updater::isNewer(a, b), newer);
    }

    // The staging folder's name takes the version from the network: only a safe form of it.
    void safeFolderPiece() {
        const std::pair<const char*, const char*> cases[] = {
            {"1.4.2-beta_1+build", "1.4.2-beta_1+build"},
            {"../../etc/x", "____etc_x"},
            {"/tmp/x", "_tmp_x"},
            {"..", "_"},
            {"1...2", "1_.2"},
            {"1 '2'", "1__2_"},
            {"", "_"}};
        for (const auto& [version, piece] : cases)
            QCOMPARE(Installer::safeFolderPiece(QString::fromUtf8(version)),
                     QString::fromUtf8(piece));
        QCOMPARE(Installer::safeFolderPiece(QString(100, u'9')), QString(64, u'9'));
    }

    void currentVersion() {
        QCOMPARE(Updater::currentVersion(), QStringLiteral("0"));
        platform.bundle->infoDictionary.insert(QStringLiteral("CFBundleShortVersionString"), 14);
        QCOMPARE(Updater::currentVersion(), QStringLiteral("0"));
        platform.bundle->infoDictionary.insert(QStringLiteral("CFBundleShortVersionString"),
                                               QStringLiteral("1.4.2"));
        QCOMPARE(Updater::currentVersion(), QStringLiteral("1.4.2"));
    }

    void decode_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("expected"); // version|url|page|sha256, "-" for none; or "fail"
        const auto row = [](const char* name, const char* json, const char* expected) {
            QTest::newRow(name) << QByteArray(json) << QString::fromUtf8(expected);
        };
        row("full", R"({"version":"1.4.2","url":"/a.zip","page":"/d","sha256":"ab","x":[1]})",
            "1.4.2|/a.zip|/d|ab");
        row("null url", R"({"version":"2.0","url":null})", "2.0|-|-|-");
        row("no version", R"({"url":"/a.zip"})", "fail");
        row("number version", R"({"version":2})", "fail");
        row("number sha", R"({"version":"2","sha256":5})", "fail");
        row("not JSON", "<html>", "fail");
        row("array", R"(["2.0"])", "fail");
    }
    void decode() {
        QFETCH(QByteArray, json);
        QFETCH(QString, expected);
        QString got;
        try {
            const Manifest m = Manifest::decode(json);
            got = QStringList{m.version, m.url.value_or("-"), m.page.value_or("-"),
                              m.sha256.value_or("-")}
                      .join(QLatin1Char('|'));
        } catch (const DecodingError&) {
            got = QStringLiteral("fail");
        }
        QCOMPARE(got, expected);
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestUpdater)
#include "tst_updater.moc"
