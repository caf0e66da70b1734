// The process entry: one running copy per user. A launch while another copy runs hands that copy
// its command and ends; the first launch becomes the app.

#include "Product.h"
#include "app/AppDelegate.h"
#include "app/CommandLine.h"
#include "app/Doctor.h"
#include "app/QuitSignals.h"
#include "app/SingleInstance.h"
#include "menubar/StatusItem.h"
#include "platform/Error.h"
#include "platform/Log.h"
#include "platform/Platform.h"
#include "platform/WebProfile.h"
#include "platform/linux/DesktopRegistration.h"
#include "platform/linux/LinuxPlatform.h"
#include "session/Session.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <vector>

using namespace pinlark;

namespace {

// Kept next to the application object for the life of the process; never destroyed, like the
// controllers it owns.
AppDelegate* delegate = nullptr;

// `message` on standard output for a success, standard error otherwise; the exit status.
// `--uninstall` does its work first.
int finish(const CommandLine::Parsed& parsed) {
    if (parsed.uninstall) {
        try {
            std::fputs(DesktopRegistration::uninstall().toLocal8Bit().constData(), stdout);
        } catch (const Error& e) {
            std::fprintf(stderr, "Pinlark: %s\n",
                         e.localizedDescription().toLocal8Bit().constData());
            return 1;
        }
    }
    std::fputs(parsed.message.toLocal8Bit().constData(), parsed.exitStatus == 0 ? stdout : stderr);
    return parsed.exitStatus;
}

// Whether an argument is one of the toolkit's own options ("-platform", "-display", …), which
// the application object takes out.
bool hasToolkitOption(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] == '-' && argv[i][1] != '-' && argv[i][1] != 'h' && argv[i][1] != '\0')
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--doctor") == 0)
        return Doctor::run(argc, argv);
    // Help, --uninstall and refused links are answered before anything connects to the display or
    // the bus, so a bad argument never reaches a running copy.
    if (!hasToolkitOption(argc, argv)) {
        QStringList arguments;
        for (int i = 1; i < argc; ++i)
            arguments.append(QString::fromLocal8Bit(argv[i]));
        if (const auto parsed = CommandLine::parse(arguments); !parsed.command)
            return finish(parsed);
    }

    // The web engine describes its set-up at length at every start; the user's own logging rules
    // (QT_LOGGING_RULES) still come first.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext=false"));
    // On GNOME the icon lives in the shell's X11 tray, which a Wayland session offers X11 clients
    // through Xwayland; there the app runs as one, unless told otherwise.
    const bool pickedPlatform = StatusItem::onGnome() &&
                                qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
                                !qEnvironmentVariableIsEmpty("DISPLAY");
    if (pickedPlatform)
        qputenv("QT_QPA_PLATFORM", "xcb");
    // The web engine shares its OpenGL contexts with the widgets; it must be asked before the
    // application object exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    prepareWebEngine();
    // One name however the program is started (/usr/bin/pinlark links to it): the windows' class,
    // which the desktop entry's StartupWMClass names, and the desktop entry's own name (Wayland's
    // app id).
    QCoreApplication::setApplicationName(QLatin1String(Product::name));
    QGuiApplication::setDesktopFileName(QLatin1String(Product::bundleIdentifier));
    QApplication app(argc, argv);
    // The platform was this copy's choice, not the user's: what it starts (the browser, the mail
    // client, the update's swap and the new copy) gets the environment the user gave it.
    if (pickedPlatform)
        qunsetenv("QT_QPA_PLATFORM");
    const CommandLine::Parsed parsed = CommandLine::parse(app.arguments().mid(1));
    if (!parsed.command)
        return finish(parsed);

    SingleInstance instance;
    if (!instance.listen()) {
        switch (instance.send(*parsed.command)) {
        case SingleInstance::Sent::Taken:
            return 0;
        case SingleInstance::Sent::Refused:
            std::fputs("Pinlark: the running copy of Pinlark refused it: it takes only http and "
                       "https links of at most 8192 characters, encoded.\n",
                       stderr);
            return 2;
        case SingleInstance::Sent::NoAnswer:
            break;
        }
        std::fputs("Pinlark: the running copy of Pinlark did not answer.\n", stderr);
        return 1;
    }

    // From here on, a signal to end ends the event loop as Quit does.
    const QuitSignals quitSignals;
    LinuxPlatform::install();
    try {
        DesktopRegistration::reconcile(Platform::bundle().path());
    } catch (const Error& e) {
        logLine(QStringLiteral("[Pinlark] ") + e.localizedDescription());
    }
    // What `Pinlark --doctor` hears from this copy.
    instance.status = []() -> QCoro::Task<QString> {
        const bool signedIn = (co_await Session::bearer()).has_value();
        const HotKeyService& keys = Platform::hotKeys();
        co_return QStringLiteral("shortcut\t%1, %2\nsigned in\t%3")
            .arg(keys.name(),
                 keys.trigger().isEmpty()
                     ? QStringLiteral("no keys registered: set some in the desktop's settings "
                                      "to run Pinlark --toggle-library")
                     : keys.trigger() + QStringLiteral(" registered"),
                 signedIn ? QStringLiteral("yes")
                          : QStringLiteral("no: sign in from the library window"));
    };
    Platform::activationPolicy().setPolicy(ActivationPolicy::Policy::Accessory);
    delegate = new AppDelegate;

    // Commands that arrive before launching has finished, the launch's own first, wait for it.
    // Launching shows the library window: a first launch that asks to toggle it is done then.
    std::vector<Command> waiting;
    if (parsed.command->kind != Command::Kind::Reopen &&
        parsed.command->kind != Command::Kind::ToggleLibrary)
        waiting.push_back(*parsed.command);
    bool launched = false;
    QObject::connect(&instance, &SingleInstance::commandReceived, delegate,
                     [&](const Command& command) {
                         if (launched)
                             delegate->handle(command);
                         else
                             waiting.push_back(command);
                     });
    QTimer::singleShot(0, delegate, [&] {
        delegate->applicationDidFinishLaunching();
        launched = true;
        for (const Command& command : std::exchange(waiting, {}))
            delegate->handle(command);
    });

    return app.exec();
}
