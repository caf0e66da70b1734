#pragma once

#include <QCoro/QCoroTask>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

namespace pinlark {

// Installs a newer release over the running bundle: preflight, download into a staging folder,
// verification (Verification), and the swap by a detached script (SwapScript) that puts the old
// bundle back when the new one does not stay up. Main thread only.
class Installer {
public:
    // True from the moment an installation passes its preflight until it ends.
    static bool isBusy() { return s_busy; }
    // Called on the main thread right after every change of isBusy().
    static inline std::function<void()> onChange;

    // Why the running copy can't replace itself, as a message for the user; none when it can.
    static std::optional<QString> blocker();
    // The "autoUpdate" preference: true unless it holds the boolean false.
    static bool isAutomatic();

    // Runs one installation of `version` from the archive at `path` on the origin. On success
    // the app terminates; throws Failure (or the swap's own error) otherwise. `stillWanted` is
    // asked once the archive is verified; false gives up with Failure::deferred.
    static QCoro::Task<> install(
        QString version, QString path, std::optional<QString> sha256,
        std::function<bool()> stillWanted = [] { return true; });

    // Downloads `url` into the file `destination`, which is replaced only by a complete 2xx
    // answer. Throws Failure::download for any other answer, PlatformError for a transport
    // failure, a stall of two minutes, or an answer beyond the size limit.
    static QCoro::Task<> download(QUrl url, QString destination);

    // Runs a tool to completion, its output discarded; whether it exited with status 0. A tool
    // the bundle carries in Contents/Helpers is run from there ("/usr/bin/ditto" → the
    // bundled ditto).
    static bool run(const QString& path, const QStringList& arguments);

    // Writes the swap script beside copies of the running bundle's helpers, which it runs, into
    // a folder of the user's alone beside `app` (never in the temporary folder, which may not
    // allow running programs), starts it detached with its output in `work`/swap.log, and
    // terminates the app. Throws PlatformError when the helpers can't be set aside or the script
    // written or started.
    static void swap(const QString& app, const QString& staged, const QString& work,
                     const QString& version);
    // Lifts the rollback mark once the app runs another version than the one rolled back to.
    static void reconcile();

    // A version as a piece of a folder name: letters, digits, ".", "-", "_" and "+" only, no
    // "..", at most 64 characters.
    static QString safeFolderPiece(const QString& version);

private:
    friend struct TestState;
    friend class TestInstaller;
    friend class TestStatusItem;

    static std::optional<QString> bundleURL();
    static void setBusy(bool busy);

    static inline bool s_busy = false;
    // Ends the app after the swap has started; whether it is ending. Tests replace it.
    static bool terminateApp();
    static inline std::function<bool()> s_terminate;
    static inline bool s_terminating = false;

    static constexpr std::chrono::milliseconds defaultDownloadTimeout{120000};
    static inline std::chrono::milliseconds s_downloadTimeout = defaultDownloadTimeout;
    // No release comes near this; a server that sends more is not sending one.
    static constexpr qint64 maxArchiveSize = qint64(2) << 30;
};

} // namespace pinlark
