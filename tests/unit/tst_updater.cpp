#include "TestSupport.h"
#include "service/APIError.h"
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
    // What the stand-ins answer and what they heard, anew for each test.
    struct {
        Manifest manifest{u"2.0"_s, u"/releases/a.zip"_s, std::nullopt, u"ab"_s};
        std::optional<APIError> fetchError;
        std::optional<Failure> installFailure;
        bool libraryVisible = false;
        QStringList installs;              // "version path sha256"
        std::function<bool()> stillWanted; // the last installation's
        int changes = 0;
    } w;

private Q_SLOTS:
    void init() {
        TestState::reset();
        fakes = FakePlatform::install();
        fakes.defaults->set(u"origin"_s, "http://127.0.0.1:9");
        fakes.bundle->infoDictionary = {{u"CFBundleShortVersionString"_s, "1.0"}};
        // A bundle in a folder the installer may write to and only the user can change.
        fakes.bundle->bundlePath = QDir::tempPath() + u"/Pinlark.app"_s;
        QDir().mkpath(fakes.bundle->bundlePath);
        w = {};
        Updater::s_fetch = [this]() -> QCoro::Task<Manifest> {
            if (w.fetchError)
                throw *w.fetchError;
            co_return w.manifest;
        };
        Updater::s_install = [this](QString version, QString path, std::optional<QString> sha256,
                                    std::function<bool()> wanted) -> QCoro::Task<> {
            w.installs.append(QStringList{version, path, sha256.value_or(u"-"_s)}.join(u' '));
            w.stillWanted = std::move(wanted);
            if (w.installFailure)
                throw *w.installFailure;
            co_return;
        };
        Updater::isLibraryVisible = [this] { return w.libraryVisible; };
        Updater::onChange = [this] { ++w.changes; };
    }

    void launchWithWindowOpenDefersUntilTheAppIsHidden() {
        w.libraryVisible = true;
        fakes.activationPolicy->active = true;
        Updater::start();
        fakes.clock->advance(14s);
        QCOMPARE(w.changes, 0);
        fakes.clock->advance(1s);
        QCOMPARE(Updater::availableVersion(), u"2.0"_s);
        QCOMPARE(w.changes, 1);
        // Hiding the app is a quiet moment: the installation starts at once. The installer,
        // busy, defers it; it is retried every five minutes until it has started.
        w.libraryVisible = false;
        fakes.activationPolicy->active = false;
        w.installFailure = Failure::deferred();
        Q_EMIT qGuiApp->applicationStateChanged(Qt::ApplicationHidden);
        QCOMPARE(w.installs, QStringList{u"2.0 /releases/a.zip ab"_s});
        QVERIFY(w.stillWanted());
        fakes.clock->advance(299s);
        QCOMPARE(w.installs.size(), 1);
        fakes.clock->advance(1s);
        QCOMPARE(w.installs.size(), 2);
        w.installFailure.reset();
        fakes.clock->advance(300s);
        QCOMPARE(w.installs.size(), 3);
        fakes.clock->advance(600s); // started: no more tries
        QCOMPARE(w.installs.size(), 3);
        QCOMPARE(fakes.notifications->added.size(), 0);
    }

    // The daily check announces each version once, with the page its manifest names.
    void eachVersionIsAnnouncedOnce() {
        fakes.defaults->set(u"autoUpdate"_s, false);
        Updater::start();
        fakes.clock->advance(86400s); // the first check and the first daily one
        QCOMPARE(fakes.notifications->added.size(), 1);
        w.manifest.version = u"2.1"_s;
        w.manifest.page = u"/whats-new"_s;
        fakes.clock->advance(86400s);
        QCOMPARE(fakes.notifications->added.size(), 2);
        const NotificationRequest& n = fakes.notifications->added[1];
        QCOMPARE(n.identifier + u' ' + n.userInfo.value(u"page"_s).toString(),
                 "update-2.1 /whats-new");
    }

    // One check, asked for or automatic, in each situation: what the user is shown (alerts as
    // "message|buttons", each answered with its first button, then any page opened), the
    // installations started and how many notifications were posted.
    void checks_data() {
        QTest::addColumn<bool>("manual");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<int>("notified");
        QTest::addColumn<std::function<void()>>("setup");
        const QString available = u"Pinlark 2.0 is available|Get the Update,Later"_s,
                      restart = u"Pinlark 2.0 is available|Install and Restart,Later"_s,
                      download = u"http://127.0.0.1:9/download"_s,
                      install = u"2.0 /releases/a.zip ab"_s;
        const auto row = [](const char* name, bool manual, QStringList shown, QStringList installed,
                            int notified, std::function<void()> setup = {}) {
            QTest::newRow(name) << manual << shown << installed << notified << setup;
        };
        row("offline", true, {"Couldn't check for updates|OK"}, {}, 0,
            [this] { w.fetchError = APIError::offline(); });
        row("up to date", true, {"You're up to date|OK"}, {}, 0,
            [this] { w.manifest.version = u"1.0"_s; });
        row("install and restart", true, {restart}, {install}, 0);
        row("install fails", true,
            {restart, "Couldn't install the update|Open Download Page,Cancel", download}, {install},
            0, [this] { w.installFailure = Failure::deferred(); });
        row("no url", true, {available, download}, {}, 0, [this] { w.manifest.url.reset(); });
        // The alert says why; the update is left to the user as without a link.
        row("rolled back", true, {available, download}, {}, 0,
            [this] { fakes.defaults->set(u"otaFailed"_s, true); });
        row("automatic", false, {}, {install}, 0);
        row("automatic, library open", false, {}, {}, 0, [this] { w.libraryVisible = true; });
        row("automatic, install fails", false, {}, {install}, 1,
            [this] { w.installFailure = Failure::corrupt(); });
        row("automatic, no url", false, {}, {}, 1, [this] { w.manifest.url.reset(); });
        row("automatic turned off", false, {}, {}, 1,
            [this] { fakes.defaults->set(u"autoUpdate"_s, false); });
        // Without a bundle identifier there are no notifications: the announcement is an alert.
        row("automatic, no identifier", false, {available, download}, {}, 0,
            [this] { w.manifest.url.reset(), fakes.bundle->bundleIdentifier.reset(); });
    }
    void checks() {
        QFETCH(bool, manual);
        QFETCH(QStringList, shown);
        QFETCH(QStringList, installed);
        QFETCH(int, notified);
        QFETCH(std::function<void()>, setup);
        if (setup)
            setup();
        runTask(Updater::check(manual));
        QStringList seen;
        for (const Alert& a : fakes.alerts->shown)
            seen << a.message + u'|' + a.buttons.join(u',');
        for (const QUrl& page : fakes.workspace->opened)
            seen << page.toString();
        QCOMPARE(seen, shown);
        QCOMPARE(w.installs, installed);
        QCOMPARE(fakes.notifications->added.size(), notified);
    }

    void notificationClickOpensItsPage() {
        UpdateNotificationDelegate::install();
        fakes.notifications->handler({{u"page"_s, u"/releases/2.0/"_s}});
        fakes.notifications->handler({{u"page"_s, 7}});
        QTRY_COMPARE(fakes.workspace->opened,
                     (QList<QUrl>{QUrl(u"http://127.0.0.1:9/releases/2.0"_s),
                                  QUrl(u"http://127.0.0.1:9/download"_s)}));
    }

    void isNewer() {
        const std::tuple<const char*, const char*, bool> cases[] = {
            {"1.10", "1.9", true},  {"1.9", "1.8", true},
            {"2", "10", false},     {"1.2", "1.2.0", false},
            {"1.2.1", "1.2", true}, {"2.0-beta", "1.9", true},
            {"1", "1.-1", true},    {"1.9223372036854775808", "1.1", false}};
        for (const auto& [a, b, newer] : cases)
            QVERIFY2(Updater::isNewer(QString::fromUtf8(a), QString::fromUtf8(b)) == newer, a);
    }

    // The staging folder's name takes the version from the network: only a safe form of it.
    void safeFolderPiece() {
        QStringList pieces;
        for (const char* version : {"1.4.2-beta_1+build", "../../etc/x", "..", "1...2", ""})
            pieces << Installer::safeFolderPiece(QString::fromUtf8(version));
        QCOMPARE(pieces, (QStringList{"1.4.2-beta_1+build", "____etc_x", "_", "1_.2", "_"}));
        QCOMPARE(Installer::safeFolderPiece(QString(100, u'9')), QString(64, u'9'));
    }
};

} // namespace pinlark

QTEST_MAIN(pinlark::TestUpdater)
#include "tst_updater.moc"
