// A stand-in for the app in the swap tests, copied into test bundles as Contents/MacOS/Pinlark.
//
//   Pinlark --swap APP STAGED WORK VERSION   runs Installer::swap like an installation's last
//                                           step, then ends as the app would
//   Pinlark --update VERSION PATH SHA256    installs VERSION from the origin in the preferences,
//                                           as the updater does, and ends
//   Pinlark                                 as started by open: when the bundle's
//                                           Contents/Resources/behaviour says "stay", writes its
//                                           pid to $PINLARK_SWAP_PIDS/<version>.pid and stays up
//                                           (a minute at most); otherwise exits with status 1
//                                           two seconds after it started, as a build that
//                                           crashes soon after launch

#include "TestKey.h"
#include "platform/Error.h"
#include "platform/Platform.h"
#include "platform/linux/DesktopRegistration.h"
#include "platform/linux/FileUserDefaults.h"
#include "platform/linux/SealCodeSignature.h"
#include "platform/qt/DesktopServices.h"
#include "update/Installer.h"
#include "update/Updater.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTimer>

int main(int argc, char** argv) {
    using namespace pinlark;
    QCoreApplication app(argc, argv);
    Platform::Services services;
    services.defaults = std::make_unique<FileUserDefaults>(FileUserDefaults::standardPath());
    services.bundle = std::make_unique<ExecutableBundle>();
    services.codeSignature = std::make_unique<SealCodeSignature>(testPublicKey);
    const QString bundle = services.bundle->path();
    Platform::install(std::move(services));
    // Like the app at every start.
    DesktopRegistration::reconcile(bundle);
    Installer::reconcile();

    const QStringList args = app.arguments();
    if (args.size() == 6 && args[1] == QLatin1String("--swap")) {
        QTimer::singleShot(0, [&] {
            try {
                Installer::swap(args[2], args[3], args[4], args[5]);
            } catch (const Error& e) {
                qWarning("swap failed: %s", qPrintable(e.localizedDescription()));
                QCoreApplication::exit(1);
            }
        });
        return app.exec();
    }

    if (args.size() == 5 && args[1] == QLatin1String("--update")) {
        [](QStringList a) -> QCoro::Task<> {
            try {
                co_await Installer::install(a[2], a[3], a[4], [] { return true; });
            } catch (const Error& e) {
                qWarning("update failed: %s", qPrintable(e.localizedDescription()));
                QCoreApplication::exit(1);
            }
        }(args);
        return app.exec();
    }

    QFile behaviour(bundle + QStringLiteral("/Contents/Resources/behaviour"));
    if (!behaviour.open(QIODevice::ReadOnly) || behaviour.readAll().trimmed() != "stay") {
        QTimer::singleShot(2000, &app, [] { QCoreApplication::exit(1); });
        return app.exec();
    }
    QFile pid(QDir(qEnvironmentVariable("PINLARK_SWAP_PIDS"))
                  .filePath(Updater::currentVersion() + QStringLiteral(".pid")));
    if (pid.open(QIODevice::WriteOnly))
        pid.write(QByteArray::number(QCoreApplication::applicationPid()));
    pid.close();
    QTimer::singleShot(60000, &app, &QCoreApplication::quit);
    return app.exec();
}
