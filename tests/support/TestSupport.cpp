#include "TestSupport.h"

#include "library/Dashboard.h"
#include "menubar/Hotkey.h"
#include "platform/Log.h"
#include "platform/Platform.h"
#include "platform/PropertyList.h"
#include "quicksave/Outbox.h"
#include "platform/WebProfile.h"
#include "service/API.h"
#include "service/Config.h"
#include "session/Connect.h"
#include "update/Installer.h"
#include "update/Updater.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QWebEngineProfile>

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <csignal>

#include <sys/prctl.h>
#include <sys/stat.h>

namespace pinlark {

QNetworkCookie sessionCookie(const QByteArray& token) {
    QNetworkCookie cookie("authjs.session-token", token);
    cookie.setDomain(Config::origin().host());
    return cookie;
}

QByteArray startSessionBus(QProcess& bus, const QString& folder) {
    bus.setChildProcessModifier(diesWithParent);
    bus.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s,
                                 u"--address=unix:dir="_s + folder});
    if (!bus.waitForReadyRead(10000))
        return {};
    const QByteArray address = bus.readLine().trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    return address;
}

void TestState::reset() {
    // First: a pending sign-in time-out sleeps on the clock that is about to be replaced.
    Connect::resetForTests();
    Config::forgetOrigin();
    Hotkey::s_action = {};
    Hotkey::s_registered = false;
    Hotkey::onChange = {};
    API::s_transferTimeout = API::defaultTransferTimeout;
    Updater::s_fetchTimeout = Updater::defaultFetchTimeout;
    Updater::s_availableVersion.reset();
    Updater::onChange = {};
    Updater::s_latest.reset();
    Updater::s_timer.reset();
    Updater::s_pendingTimer.reset();
    Updater::s_firstCheck.reset();
    Updater::s_observer.reset();
    Updater::s_fetch = {};
    Updater::s_install = {};
    Updater::isLibraryVisible = {};
    Installer::s_busy = false;
    Installer::onChange = {};
    Installer::s_terminate = {};
    Installer::s_terminating = false;
    Installer::s_downloadTimeout = Installer::defaultDownloadTimeout;
    setLogSink({});
}

namespace {
const char* const xdgVariables[3] = {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"};

// A test ends with whatever runs it: killed with its runner, it leaves nothing running.
const bool tiedToRunner = [] {
    diesWithParent();
    return true;
}();
} // namespace

void diesWithParent() {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
}

TestHome::TestHome() {
    const QString base = m_dir.path();
    const char* sub[3] = {"/config", "/data", "/cache"};
    for (int i = 0; i < 3; ++i) {
        m_saved[i] = qgetenv(xdgVariables[i]);
        qputenv(xdgVariables[i], (base + QLatin1String(sub[i])).toLocal8Bit());
    }
}

TestHome::~TestHome() {
    for (int i = 0; i < 3; ++i)
        qputenv(xdgVariables[i], m_saved[i]);
}

bool writeFile(const QString& path, const QByteArray& bytes, int mode) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return false;
    file.close();
    return ::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList waitingLinks(const QString& path) {
    QString error;
    const auto contents = Outbox::peek(path, &error);
    if (!contents)
        return {u"unreadable: "_s + error};
    QStringList links;
    for (const Outbox::Entry& entry : contents->entries)
        links << entry.url;
    return links;
}

bool writeInfoPlist(const QString& app, const QString& version, const QString& identifier) {
    return writeFile(app + u"/Contents/Info.plist"_s,
                     xmlPropertyList({{u"CFBundleShortVersionString"_s, version},
                                      {u"CFBundleIdentifier"_s, identifier}}));
}

bool writeSigningKey(const QString& path) {
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
    BIO* out = BIO_new_file(QFile::encodeName(path).constData(), "w");
    const bool written =
        key && out && PEM_write_bio_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr);
    BIO_free(out);
    EVP_PKEY_free(key);
    return written;
}

int runWebEngineTest(int argc, char** argv, const std::function<int(int, char**)>& run) {
    const TestHome home;
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    sharedWebProfile()->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    LibraryWindow::provide(Dashboard::module());
    return run(argc, argv);
}

} // namespace pinlark
