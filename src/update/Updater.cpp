#include "update/Updater.h"

#include "platform/Log.h"
#include "platform/Platform.h"
#include "service/APIError.h"
#include "service/Config.h"
#include "service/DecodingError.h"
#include "update/Failure.h"
#include "update/Installer.h"
#include "update/UpdateNetwork.h"

#include <QCoroNetworkReply>
#include <QGuiApplication>
#include <QNetworkAccessManager>

#include <limits>

namespace pinlark {

namespace {

// A strict decimal: an optional sign, then one or more ASCII digits, within 64 bits; else 0.
qint64 piece(const QString& text) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    if (i == text.size())
        return 0;
    // Accumulated as a negative number, so the minimum of the range fits.
    qint64 value = 0;
    constexpr qint64 min = std::numeric_limits<qint64>::min();
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return 0;
        const int digit = c - u'0';
        if (value < (min + digit) / 10)
            return 0;
        value = value * 10 - digit;
    }
    if (negative)
        return value;
    return value == min ? 0 : -value;
}

QList<qint64> pieces(const QString& version) {
    QList<qint64> numbers;
    for (const QString& p : version.split(QLatin1Char('.'), Qt::SkipEmptyParts))
        numbers.append(piece(p));
    return numbers;
}

} // namespace

bool Updater::isNewer(const QString& a, const QString& b) {
    const QList<qint64> pa = pieces(a);
    const QList<qint64> pb = pieces(b);
    for (qsizetype i = 0; i < std::max(pa.size(), pb.size()); ++i) {
        const qint64 x = i < pa.size() ? pa[i] : 0;
        const qint64 y = i < pb.size() ? pb[i] : 0;
        if (x != y)
            return x > y;
    }
    return false;
}

QString Updater::currentVersion() {
    const QVariant v =
        Platform::bundle().info().value(QStringLiteral("CFBundleShortVersionString"));
    if (v.typeId() == QMetaType::QString)
        return v.toString();
    return QStringLiteral("0");
}

QCoro::Task<Manifest> Updater::fetch() {
    QNetworkRequest request(Config::api(QStringLiteral("api/mac/version")));
    request.setTransferTimeout(int(s_fetchTimeout.count()));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    QNetworkReply* reply = updateNetwork().get(request);
    bool tooLarge = false;
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                     [reply, &tooLarge](qint64 received, qint64) {
                         if (received > maxManifestSize && !tooLarge) {
                             tooLarge = true;
                             reply->abort();
                         }
                     });
    co_await reply;
    reply->deleteLater();

    if (tooLarge)
        throw DecodingError(QStringLiteral("manifest larger than %1 bytes").arg(maxManifestSize));
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool answered = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    if (answered && (status < 200 || status > 299))
        throw APIError::offline();
    if (isTransportFailure(*reply))
        throwTransportError(*reply, reply->error() == QNetworkReply::OperationCanceledError);
    co_return Manifest::decode(reply->readAll());
}

namespace {

QString youAreOn() {
    return QStringLiteral("You're on ") + Updater::currentVersion();
}

} // namespace

QCoro::Task<Manifest> Updater::fetchManifest() {
    if (s_fetch)
        co_return co_await s_fetch();
    co_return co_await fetch();
}

QCoro::Task<> Updater::install(Manifest m, std::function<bool()> stillWanted) {
    if (s_install) {
        co_await s_install(m.version, *m.url, m.sha256, std::move(stillWanted));
        co_return;
    }
    co_await Installer::install(m.version, *m.url, m.sha256, std::move(stillWanted));
}

void Updater::spawn(std::function<QCoro::Task<>()> task) {
    runDetached(std::move(task), QStringLiteral("[updater] "));
}

bool Updater::isIdle() {
    return !Platform::activationPolicy().isActive() && !(isLibraryVisible && isLibraryVisible());
}

void Updater::start() {
    Installer::reconcile();
    Clock& clock = Platform::clock();
    s_firstCheck = clock.startTimer(std::chrono::seconds(15), false,
                                    [] { spawn([] { return check(false); }); });
    s_timer = clock.startTimer(std::chrono::seconds(86400), true,
                               [] { spawn([] { return check(false); }); });
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        s_observer = std::make_unique<QObject>();
        QObject::connect(app, &QGuiApplication::applicationStateChanged, s_observer.get(),
                         [](Qt::ApplicationState state) {
                             if (state != Qt::ApplicationActive)
                                 spawn([] { return applyPendingIfIdle(); });
                         });
    }
}

QCoro::Task<> Updater::check(bool manual) {
    std::optional<Manifest> fetched;
    QString problem;
    try {
        fetched = co_await fetchManifest();
    } catch (const Error& e) {
        problem = e.localizedDescription();
    }
    if (!fetched) {
        if (manual)
            Platform::alerts().run(
                {QStringLiteral("Couldn't check for updates"), problem, {QStringLiteral("OK")}});
        co_return;
    }
    const Manifest m = *fetched;
    if (isNewer(m.version, currentVersion())) {
        s_latest = m;
        if (s_availableVersion != m.version) {
            s_availableVersion = m.version;
            if (onChange)
                onChange();
        }
        if (manual)
            co_await handleManual(m);
        else
            co_await handleAutomatic(m);
        co_return;
    }
    if (s_availableVersion) {
        s_availableVersion.reset();
        if (onChange)
            onChange();
    }
    s_latest.reset();
    if (manual)
        Platform::alerts().run(
            {QStringLiteral("You're up to date"),
             QStringLiteral("Pinlark %1 is the latest version.").arg(currentVersion()),
             {QStringLiteral("OK")}});
}

QCoro::Task<> Updater::handleManual(Manifest m) {
    if (!m.url || Installer::blocker()) {
        promptToDownload(m.version, m.page, Installer::blocker());
        co_return;
    }
    const int choice = Platform::alerts().run(
        {QStringLiteral("Pinlark %1 is available").arg(m.version),
         youAreOn() +
             QStringLiteral(". Pinlark will install it and restart — it takes a few seconds."),
         {QStringLiteral("Install and Restart"), QStringLiteral("Later")}});
    if (choice != 0)
        co_return;
    QString failure;
    bool failed = false;
    try {
        co_await install(m, [] { return true; });
    } catch (const Error& e) {
        failed = true;
        failure = e.localizedDescription();
    }
    if (!failed)
        co_return;
    const int answer = Platform::alerts().run(
        {QStringLiteral("Couldn't install the update"),
         failure + QStringLiteral("\n\nYou can download it from the Pinlark site instead."),
         {QStringLiteral("Open Download Page"), QStringLiteral("Cancel")}});
    if (answer == 0)
        openDownloadPage(m.page);
}

void Updater::promptToDownload(const QString& version, const std::optional<QString>& page,
                               const std::optional<QString>& why) {
    const QString text =
        why ? youAreOn() + QStringLiteral(". ") + *why : youAreOn() + QLatin1Char('.');
    const int choice =
        Platform::alerts().run({QStringLiteral("Pinlark %1 is available").arg(version),
                                text,
                                {QStringLiteral("Get the Update"), QStringLiteral("Later")}});
    if (choice == 0)
        openDownloadPage(page);
}

void Updater::openDownloadPage(const std::optional<QString>& page) {
    QString path = page.value_or(QStringLiteral("/download"));
    while (path.startsWith(QLatin1Char('/')))
        path.remove(0, 1);
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    Platform::workspace().open(Config::api(path));
}

void Updater::openLatest() {
    spawn([] { return check(true); });
}

QCoro::Task<> Updater::handleAutomatic(Manifest m) {
    if (!Installer::isAutomatic() || !m.url || Installer::blocker()) {
        co_await notifyOnce(m);
        co_return;
    }
    if (!isIdle()) {
        schedulePendingCheck();
        co_return;
    }
    co_await installQuietly(std::move(m), QStringLiteral("automatic"));
}

void Updater::schedulePendingCheck() {
    if (s_pendingTimer)
        return;
    s_pendingTimer = Platform::clock().startTimer(
        std::chrono::seconds(300), true, [] { spawn([] { return applyPendingIfIdle(); }); });
}

QCoro::Task<> Updater::applyPendingIfIdle() {
    if (Installer::isBusy() || !s_latest || !s_latest->url || !Installer::isAutomatic() ||
        Installer::blocker() || !isNewer(s_latest->version, currentVersion()) || !isIdle())
        co_return;
    s_pendingTimer.reset();
    co_await installQuietly(*s_latest, QStringLiteral("deferred"));
}

// An installation nobody asked for: a deferral tries again later, a failure is logged and the
// version announced instead.
QCoro::Task<> Updater::installQuietly(Manifest m, QString kind) {
    bool deferred = false;
    std::optional<QString> failure;
    try {
        co_await install(m, isIdle);
    } catch (const Failure& f) {
        deferred = f.kind() == Failure::Kind::deferred;
        if (!deferred)
            failure = f.localizedDescription();
    } catch (const Error& e) {
        failure = e.localizedDescription();
    }
    if (deferred) {
        schedulePendingCheck();
    } else if (failure) {
        logLine(QStringLiteral("[updater] %1 install failed: %2").arg(kind, *failure));
        co_await notifyOnce(m);
    }
}

QCoro::Task<> Updater::notifyOnce(Manifest m) {
    const QString key = QStringLiteral("lastNotifiedVersion");
    if (Platform::defaults().string(key) == m.version)
        co_return;
    Platform::defaults().set(key, m.version);
    co_await notify(m.version, m.page);
}

QCoro::Task<> Updater::notify(QString version, std::optional<QString> page) {
    if (!Platform::bundle().identifier()) {
        promptToDownload(version, page, std::nullopt);
        co_return;
    }
    // A named request: GCC 12 mistranslates a braced one inside a co_await.
    NotificationRequest request{
        QStringLiteral("update-") + version,
        QStringLiteral("Pinlark %1 is available").arg(version),
        youAreOn() + QStringLiteral(". Click to get the update."),
        {{QStringLiteral("page"), page.value_or(QStringLiteral("/download"))}}};
    try {
        co_await Platform::notifications().addIfAllowed(std::move(request));
    } catch (const Error& e) {
        logLine(QStringLiteral("[updater] notification authorization failed: %1")
                    .arg(e.localizedDescription()));
    }
}

} // namespace pinlark
