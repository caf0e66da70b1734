#pragma once

#include "update/Manifest.h"

#include "platform/Clock.h"

#include <QCoro/QCoroTask>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace pinlark {

// The self-updater: the update manifest, the running version and version comparison; when to
// look for a release and what to do with it. Main thread only.
class Updater {
public:
    using Manifest = pinlark::Manifest;

    // GET api/manifest of the origin, without a session, 15 seconds of silence at most.
    // Throws the transport's PlatformError unchanged, APIError "offline" for an answer outside
    // 200-299, DecodingError for a body that is not a manifest.
    static QCoro::Task<Manifest> fetch();

    // "CFBundleShortVersionString" of the running bundle when it is a string, else "0"; read
    // afresh at every call.
    static QString currentVersion();

    // Whether dotted version `a` is strictly newer than `b`: pieces compared as signed 64-bit
    // numbers (a piece that is not a strict decimal counts as 0), missing pieces as 0.
    static bool isNewer(const QString& a, const QString& b);

    // Version of a newer release found by the last successful check, none when that check found
    // nothing newer.
    static const std::optional<QString>& availableVersion() { return s_availableVersion; }
    // Called right after availableVersion() changes.
    static inline std::function<void()> onChange;

    // Clears a stale rollback mark, checks 15 seconds from now and then daily, and tries a
    // deferred installation whenever the app is deactivated or hidden.
    static void start();
    // Fetches the manifest and acts on it: a manual check asks the user, a background check
    // installs while the app is idle or announces the release once.
    static QCoro::Task<> check(bool manual);
    // Checks again, manually, for the release the menu offers.
    static void openLatest();
    // Opens the download page `page` (or "/download") of the origin in the browser.
    static void openDownloadPage(const std::optional<QString>& page);

    // Whether the app is idle: not the active application, and the library window not visible.
    static bool isIdle();
    // Whether the library window is visible. The app sets it when it creates the window;
    // without it the window counts as hidden.
    static inline std::function<bool()> isLibraryVisible;

private:
    friend struct TestState;
    friend class TestUpdater;
    friend class TestUpdateFetch;
    friend class TestStatusItem;

    static QCoro::Task<> handleManual(Manifest m);
    static QCoro::Task<> handleAutomatic(Manifest m);
    static QCoro::Task<> applyPendingIfIdle();
    static QCoro::Task<> installQuietly(Manifest m, QString kind);
    static void schedulePendingCheck();
    static void promptToDownload(const QString& version, const std::optional<QString>& page,
                                 const std::optional<QString>& why);
    static QCoro::Task<> notifyOnce(Manifest m);
    static QCoro::Task<> notify(QString version, std::optional<QString> page);
    static QCoro::Task<Manifest> fetchManifest();
    // Installs the release of `m`, which has a url.
    static QCoro::Task<> install(Manifest m, std::function<bool()> stillWanted);
    // Starts `task` bound to the main thread and lets it run on its own.
    static void spawn(std::function<QCoro::Task<>()> task);

    static inline std::optional<QString> s_availableVersion;
    static inline std::optional<Manifest> s_latest;
    static inline std::unique_ptr<Clock::Timer> s_timer;
    static inline std::unique_ptr<Clock::Timer> s_pendingTimer;
    static inline std::unique_ptr<Clock::Timer> s_firstCheck;
    static inline std::unique_ptr<QObject> s_observer;

    // The manifest and the installer; tests replace them.
    static inline std::function<QCoro::Task<Manifest>()> s_fetch;
    static inline std::function<QCoro::Task<>(QString, QString, std::optional<QString>,
                                              std::function<bool()>)>
        s_install;

    static constexpr std::chrono::milliseconds defaultFetchTimeout{15000};
    static inline std::chrono::milliseconds s_fetchTimeout = defaultFetchTimeout;
    // A manifest is a few hundred bytes; anything far beyond is not one.
    static constexpr qint64 maxManifestSize = 64 * 1024;
};

} // namespace pinlark
