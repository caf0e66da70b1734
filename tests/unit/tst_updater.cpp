#include "TestSupport.h"
#include "service/APIError.h"
#include "service/DecodingError.h"
#include "update/Failure.h"
#include "update/Installer.h"
#include "update/UpdateNotificationDelegate.h"
#include "update/Updater.h"

#include <QDir>
#include <QGuiApplication>

using namespace std::chrono_literals;

namespace pinlark {

class TestUpdater : public QObject {
    Q_OBJECT

    FakePlatform fakes;
    Manifest manifest;
    std::optional<APIError> fetchError;
    bool libraryVisible = false;
    struct Install {
        QString version, path;
        std::optional<QString> sha256;
        std::function<bool()> stillWanted;
    };
    QList<Install> installs;
    std::optional<Failure> installFailure;
    int changes = 0;

    QStringList alertTexts() const {
        QStringList texts;
        for (const Alert& a : fakes.alerts->shown)
            texts.append(a.message + QLatin1Char('|') + a.informativeText + QLatin1Char('|') +
                         a.buttons.join(QLatin1Char(',')));
        return texts;
    }

private Q_SLOTS:
    void init() {
        TestState::reset();
        fakes = FakePlatform::install();
        fakes.defaults->set(QStringLiteral("origin"), "http://127.0.0.1:9");
        fakes.bundle->infoDictionary = {{QStringLiteral("CFBundleShortVersionString"), "1.0"}};
        // A bundle in a folder the installer may write to.
        fakes.bundle->bundlePath = QDir::tempPath() + QStringLiteral("/Pinlark.app");
        manifest = {QStringLiteral("2.0"), QStringLiteral("/releases/a.zip"), std::nullopt,
                    QStringLiteral("ab")};
        fetchError.reset();
        installFailure.reset();
        installs.clear();
        libraryVisible = false;
        changes = 0;
        Updater::s_fetch = [this]() -> QCoro::Task<Manifest> {
            if (fetchError)
                throw *fetchError;
            co_return manifest;
        };
        Updater::s_install = [this](QString version, QString path, std::optional<QString> sha256,
                                    std::function<bool()> stillWanted) -> QCoro::Task<> {
            installs.append({version, path, sha256, stillWanted});
            if (installFailure)
                throw *installFailure;
            co_return;
        };
        Updater::isLibraryVisible = [this] { return libraryVisible; };
        Updater::onChange = [this] { ++changes; };
    }

    void launchWithWindowOpenDefersUntilTheAppIsHidden() {
        libraryVisible = true;
        fakes.activationPolicy->active = true;
        Updater::start();
        fakes.clock->advance(14s);
        QCOMPARE(changes, 0);
        fakes.clock->advance(1s);
        QCOMPARE(Updater::availableVersion(), QStringLiteral("2.0"));
        QCOMPARE(changes, 1);
        QCOMPARE(installs.size(), 0);
        // Hiding the app is a quiet moment: the installation starts at once. The installer,
        // busy, defers it; it is retried every five minutes until it has started.
        libraryVisible = false;
        fakes.activationPolicy->active = false;
        installFailure = Failure::deferred();
        Q_EMIT qGuiApp->applicationStateChanged(Qt::ApplicationHidden);
        QCOMPARE(installs.size(), 1);
        QCOMPARE(QStringList({installs[0].version, installs[0].path, *installs[0].sha256}),
                 QStringList({"2.0", "/releases/a.zip", "ab"}));
        QVERIFY(installs[0].stillWanted());
        fakes.clock->advance(299s);
        QCOMPARE(installs.size(), 1);
        fakes.clock->advance(1s);
        QCOMPARE(installs.size(), 2);
        installFailure.reset();
        fakes.clock->advance(300s);
        QCOMPARE(installs.size(), 3);
        QCOMPARE(fakes.notifications->added.size(), 0);
    }

    void withoutAutoUpdateEachVersionIsAnnouncedOnce() {
        fakes.defaults->set(QStringLiteral("autoUpdate"), false);
        Updater::start();
        fakes.clock->advance(15s);
        fakes.clock->advance(86400s);
        QCOMPARE(installs.size(), 0);
        QCOMPARE(fakes.notifications->added.size(), 1);
        const NotificationRequest& n = fakes.notifications->added[0];
        QCOMPARE(
            QStringList({n.identifier, n.title, n.body, n.userInfo.value(u"page"_s).toString()}),
            QStringList({"update-2.0", "Pinlark 2.0 is available",
                         "You're on 1.0. Click to get the update.", "/download"}));
        manifest.version = QStringLiteral("2.1");
        manifest.page = QStringLiteral("/whats-new");
        fakes.clock->advance(86400s);
        QCOMPARE(fakes.notifications->added.size(), 2);
        QCOMPARE(fakes.notifications->added[1].userInfo.value(QStringLiteral("page")),
                 QStringLiteral("/whats-new"));
    }

    void automaticFailureIsAnnounced() {
        installFailure = Failure::corrupt();
        runTask(Updater::check(false));
        QCOMPARE(fakes.notifications->added.size(), 1);
        // Refused authorization: nothing shown, the version still counts as announced.
        manifest.version = QStringLiteral("2.2");
        fakes.notifications->authorizationError = QStringLiteral("no server");
        runTask(Updater::check(false));
        QCOMPARE(fakes.notifications->added.size(), 1);
        QCOMPARE(fakes.defaults->string(QStringLiteral("lastNotifiedVersion")),
                 QStringLiteral("2.2"));
    }

    void manualChecks_data() {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<QStringList>("alerts");
        QTest::addColumn<int>("installs");
        QTest::addColumn<QString>("opened");
        const QString available = QStringLiteral("Pinlark 2.0 is available|You're on 1.0."),
                      download = QStringLiteral("http://127.0.0.1:9/download");
        const QString restart = available + " Pinlark will install it and restart — it takes a "
                                            "few seconds.|Install and Restart,Later";
        const auto row = [](const char* situation, QList<int> answers, QStringList alerts,
                            int installs, const QString& opened = {}) {
            QTest::newRow(situation)
                << QString::fromUtf8(situation) << answers << alerts << installs << opened;
        };
        row("offline", {},
            {"Couldn't check for updates|Can't reach Pinlark. Check your connection.|OK"}, 0);
        row("up to date", {}, {"You're up to date|Pinlark 1.0 is the latest version.|OK"}, 0);
        row("install and restart", {0}, {restart}, 1);
        row("install fails", {0, 0},
            {restart,
             "Couldn't install the update|The update is waiting for a quieter moment.\n\n"
             "You can download it from the Pinlark site instead.|Open Download Page,Cancel"},
            1, download);
        row("no url", {0}, {available + "|Get the Update,Later"}, 0, download);
        // A system install, whose folder the user can't write (tests run as root: a folder that
        // doesn't exist): updates come with the package, from the download page.
        row("system install", {0},
            {available + " Pinlark can't write to /nonexistent/opt/pinlark.|Get the Update,Later"},
            0, download);
        row("rolled back", {1},
            {available + " An earlier update had to be rolled back on this Mac, so Pinlark is "
                         "leaving the update to you.|Get the Update,Later"},
            0);
    }
    void manualChecks() {
        QFETCH(QString, situation);
        QFETCH(QList<int>, answers);
        QFETCH(QStringList, alerts);
        QFETCH(int, installs);
        QFETCH(QString, opened);
        fakes.alerts->answers = answers;
        if (situation == QLatin1String("offline"))
            fetchError = APIError::offline();
        if (situation == QLatin1String("up to date"))
            manifest.version = QStringLiteral("1.0");
        if (situation == QLatin1String("install fails"))
            installFailure = Failure::deferred();
        if (situation == QLatin1String("no url"))
            manifest.url.reset();
        if (situation == QLatin1String("system install"))
            fakes.bundle->bundlePath = QStringLiteral("/nonexistent/opt/pinlark/Pinlark.app");
        if (situation == QLatin1String("rolled back"))
            fakes.defaults->set(QStringLiteral("otaFailed"), true);
        runTask(Updater::check(true));
        QCOMPARE(alertTexts(), alerts);
        QCOMPARE(this->installs.size(), installs);
        QCOMPARE(fakes.workspace->opened,
                 opened.isEmpty() ? QList<QUrl>() : QList<QUrl>{QUrl(opened)});
    }

    void notificationClickOpensItsPage() {
        UpdateNotificationDelegate::install();
        fakes.notifications->handler({{QStringLiteral("page"), QStringLiteral("/releases/2.0/")}});
        fakes.notifications->handler({{QStringLiteral("page"), 7}});
        QTRY_COMPARE(fakes.workspace->opened.size(), 2);
        QCOMPARE(fakes.workspace->opened,
                 (QList<QUrl>{QUrl(QStringLiteral("http://127.0.0.1:9/releases/2.0")),
                              QUrl(QStringLiteral("http://127.0.0.1:9/download"))}));
    }

    void isNewer() {
        const std::tuple<const char*, const char*, bool> cases[] = {
            {"1.10", "1.9", true},
            {"1.2", "1.2.0", false},
            {"2.0-beta", "1.9", true},
            {"1", "1.-1", true},
            {"1.9223372036854775808", "1.1", false}};
        for (const auto& [a, b, newer] : cases)
            QVERIFY2(Updater::isNewer(QString::fromUtf8(a), QString::fromUtf8(b)) == newer, a);
    }

    // The staging folder's name takes the version from the network: only a safe form of it.
    void safeFolderPiece() {
        const std::pair<const char*, const char*> cases[] = {
            {"1.4.2-beta_1+build", "1.4.2-beta_1+build"},
            {"../../etc/x", "____etc_x"},
            {"..", "_"},
            {"1...2", "1_.2"},
            {"", "_"}};
        for (const auto& [version, piece] : cases)
            QCOMPARE(Installer::safeFolderPiece(QString::fromUtf8(version)),
                     QString::fromUtf8(piece));
        QCOMPARE(Installer::safeFolderPiece(QString(100, u'9')), QString(64, u'9'));
    }

    // version|url|page|sha256, "-" for none; or "fail".
    void decode() {
        const std::pair<const char*, const char*> cases[] = {
            {R"({"version":"1.4.2","url":"/a.zip","page":"/d","sha256":"ab","x":[1]})",
             "1.4.2|/a.zip|/d|ab"},
            {R"({"url":"/a.zip"})", "fail"},
            {R"({"version":2})", "fail"},
            {"<html>", "fail"}};
        for (const auto& [json, expected] : cases) {
            QString got = u"fail"_s;
            try {
                const Manifest m = Manifest::decode(json);
                got = QStringList{m.version, m.url.value_or("-"), m.page.value_or("-"),
                                  m.sha256.value_or("-")}
                          .join(u'|');
            } catch (const DecodingError&) {
            }
            QCOMPARE(got, QString::fromUtf8(expected));
        }
    }
};

} // namespace pinlark

QTEST_MAIN(pinlark::TestUpdater)
#include "tst_updater.moc"
