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
        QTest::newRow("1.10 over 1.9") << "1.10"
                                       << "1.9" << true;
        QTest::newRow("1.9 under 1.10") << "1.9"
                                        << "1.10" << false;
        QTest::newRow("1.2 equals 1.2.0") << "1.2"
                                          << "1.2.0" << false;
        QTest::newRow("1.2.0 equals 1.2") << "1.2.0"
                                          << "1.2" << false;
        QTest::newRow("extra piece") << "1.2.0.1"
                                     << "1.2" << true;
        QTest::newRow("2.0-beta over 1.9") << "2.0-beta"
                                           << "1.9" << true;
        QTest::newRow("1.2-beta under 1.2") << "1.2-beta"
                                            << "1.2" << false;
        QTest::newRow("leading space is 0") << "1. 5"
                                            << "1.0" << false;
        QTest::newRow("trailing letter is 0") << "1.5a"
                                              << "1.0" << false;
        QTest::newRow("missing piece over -1") << "1"
                                               << "1.-1" << true;
        QTest::newRow("plus sign") << "1.+3"
                                   << "1.2" << true;
        QTest::newRow("sign alone is 0") << "1.+"
                                         << "1.0" << false;
        QTest::newRow("empty pieces dropped") << "1..3"
                                              << "1.2" << true;
        QTest::newRow("empty not over 0") << ""
                                          << "0" << false;
        QTest::newRow("equal") << "3.1.4"
                               << "3.1.4" << false;
        QTest::newRow("beyond 64 bits is 0") << "1.9223372036854775808"
                                             << "1.1" << false;
        QTest::newRow("64-bit maximum") << "1.9223372036854775807"
                                        << "1.1" << true;
        QTest::newRow("64-bit minimum") << "1.-9223372036854775808"
                                        << "1" << false;
        QTest::newRow("any positive over 0") << "0.0.1"
                                             << "0" << true;
    }
    void isNewer() {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, newer);
        QCOMPARE(Updater::isNewer(a, b), newer);
    }

    // The staging folder's name takes the version from the network: only a safe form of it.
    void safeFolderPiece_data() {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("piece");
        QTest::newRow("plain") << "1.4.2-beta_1+build"
                               << "1.4.2-beta_1+build";
        QTest::newRow("parent folders") << "../../etc/x"
                                        << "____etc_x";
        QTest::newRow("absolute") << "/tmp/x"
                                  << "_tmp_x";
        QTest::newRow("dots alone") << ".."
                                    << "_";
        QTest::newRow("three dots") << "1...2"
                                    << "1_.2";
        QTest::newRow("spaces and quotes") << "1 '2'"
                                           << "1__2_";
        QTest::newRow("empty") << ""
                               << "_";
        QTest::newRow("long") << QString(100, QLatin1Char('9')) << QString(64, QLatin1Char('9'));
    }
    void safeFolderPiece() {
        QFETCH(QString, version);
        QFETCH(QString, piece);
        QCOMPARE(Installer::safeFolderPiece(version), piece);
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
        QTest::newRow("full") << QByteArray(R"({"version":"1.4.2","url":"/releases/a.zip",
            "page":"/download","sha256":"ab","extra":[1]})")
                              << "1.4.2|/releases/a.zip|/download|ab";
        QTest::newRow("version only") << QByteArray(R"({"version":"2.0"})") << "2.0|-|-|-";
        QTest::newRow("null url") << QByteArray(R"({"version":"2.0","url":null})") << "2.0|-|-|-";
        QTest::newRow("no version") << QByteArray(R"({"url":"/a.zip"})") << "fail";
        QTest::newRow("number version") << QByteArray(R"({"version":2})") << "fail";
        QTest::newRow("number sha") << QByteArray(R"({"version":"2","sha256":5})") << "fail";
        QTest::newRow("not JSON") << QByteArray("<html>") << "fail";
        QTest::newRow("array") << QByteArray(R"(["2.0"])") << "fail";
        QTest::newRow("empty") << QByteArray() << "fail";
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
