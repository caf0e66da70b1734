// The process entry: one running copy per user. A launch while another copy runs hands that copy
// its command and ends; the first launch becomes the app. The bundle's executable
// (app/Launcher.cpp) loads this module and calls pinlark_main.

#include "Product.h"
#include "app/AppDelegate.h"
#include "app/CommandLine.h"
#include "app/Doctor.h"
#include "app/QuitSignals.h"
#include "app/SingleInstance.h"
#include "app/UninstallReport.h"
#include "menubar/StatusItem.h"
#include "platform/Desktop.h"
#include "platform/Error.h"
#include "platform/Log.h"
#include "platform/Platform.h"
#include "platform/linux/DesktopRegistration.h"
#include "platform/linux/LinuxPlatform.h"
#include "session/Session.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QJsonArray>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QLoggingCategory>
#include <QPluginLoader>
#include <QTimer>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstring>
#include <optional>
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
            std::fputs(UninstallReport::uninstall().toLocal8Bit().constData(), stdout);
        } catch (const Error& e) {
            std::fprintf(stderr, "Pinlark: %s\n",
                         e.localizedDescription().toLocal8Bit().constData());
            return 1;
        }
    }
    std::fputs(parsed.message.toLocal8Bit().constData(), parsed.exitStatus == 0 ? stdout : stderr);
    return parsed.exitStatus;
}

// A variable of the environment that the app sets for itself alone: what it starts (the browser,
// the mail client, the update's swap and the new copy) gets the user's own value back once the
// application object exists.
class OwnSetting {
public:
    explicit OwnSetting(const char* name)
        : m_name(name)
        , m_user(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt) {}
    bool isSetByUser() const { return m_user.has_value(); }
    void restore() const {
        if (m_user)
            qputenv(m_name, *m_user);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<QByteArray> m_user;
};

QtMessageHandler passOn = nullptr;

// Passes on every message but the notes of OpenGL being absent, which the app goes without.
void withoutOpenGL(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.startsWith(QLatin1String("QXcbIntegration: Cannot create platform OpenGL")) ||
        message.startsWith(QLatin1String("No suitable graphics backend found")))
        return;
    passOn(type, context, message);
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

// The names of Qt's platforms installed here (the plugins' keys, in lower case).
QStringList installedPlatforms() {
    QStringList folders =
        qEnvironmentVariable("QT_PLUGIN_PATH").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    folders.append(QLibraryInfo::path(QLibraryInfo::PluginsPath));
    QStringList names;
    for (const QString& folder : folders) {
        const QDir platforms(folder + QLatin1String("/platforms"));
        for (const QString& file : platforms.entryList(QDir::Files)) {
            const QJsonObject meta = QPluginLoader(platforms.filePath(file))
                                         .metaData()
                                         .value(QLatin1String("MetaData"))
                                         .toObject();
            for (const QJsonValue key : meta.value(QLatin1String("Keys")).toArray())
                names.append(key.toString().toLower());
        }
    }
    return names;
}

// Why Qt's platform `name` cannot start here; empty when it can.
QString whyNot(const QString& name, const QStringList& installed) {
    if (!installed.contains(name))
        return name.startsWith(QLatin1String("wayland"))
                   ? QStringLiteral("it is not installed; Debian's package qt6-wayland has it")
                   : QStringLiteral("it is not installed");
    if (name.startsWith(QLatin1String("wayland"))) {
        const QString display = qEnvironmentVariable("WAYLAND_DISPLAY");
        if (display.isEmpty() || !QFileInfo::exists(display.startsWith(QLatin1Char('/'))
                                                        ? display
                                                        : qEnvironmentVariable("XDG_RUNTIME_DIR") +
                                                              QLatin1Char('/') + display))
            return QStringLiteral("WAYLAND_DISPLAY names no Wayland display");
    }
    if (name == QLatin1String("xcb")) {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            return QStringLiteral("DISPLAY names no X display");
        xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
        const bool refused = xcb_connection_has_error(connection);
        xcb_disconnect(connection);
        if (refused)
            return QStringLiteral("the X server at DISPLAY=%1 refuses the connection")
                .arg(qEnvironmentVariable("DISPLAY"));
    }
    return {};
}

// Qt ends the process when none of the platforms QT_QPA_PLATFORM lists can start: there the app
// starts on one that can, and says so in one line; with none at all it ends with a message.
// False when it cannot start.
bool choosePlatform() {
    const QString asked = qEnvironmentVariable("QT_QPA_PLATFORM");
    const bool noDisplay =
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && qEnvironmentVariableIsEmpty("DISPLAY");
    if (asked.isEmpty() && !noDisplay)
        return true;
    const QStringList installed = installedPlatforms();
    QString reason;
    for (const QString& entry : asked.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString why = whyNot(entry.section(QLatin1Char(':'), 0, 0).toLower(), installed);
        if (why.isEmpty())
            return true;
        if (reason.isEmpty())
            reason = why;
    }
    for (const char* other : {"wayland", "xcb"}) {
        if (whyNot(QLatin1String(other), installed).isEmpty()) {
            std::fprintf(stderr,
                         "Pinlark: Qt's platform \"%s\" cannot start (%s); starting on \"%s\".\n",
                         asked.toLocal8Bit().constData(), reason.toLocal8Bit().constData(), other);
            qputenv("QT_QPA_PLATFORM", other);
            return true;
        }
    }
    std::fprintf(stderr,
                 "Pinlark: there is no display to show its windows on (Wayland: %s; X11: %s).\n",
                 whyNot(QStringLiteral("wayland"), installed).toLocal8Bit().constData(),
                 whyNot(QStringLiteral("xcb"), installed).toLocal8Bit().constData());
    return false;
}

} // namespace

static int run(int argc, char** argv) {
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
    // The platform the desktop asks for (on GNOME X11, for the shell's tray, through Xwayland on
    // Wayland), unless the user named one.
    OwnSetting platform("QT_QPA_PLATFORM");
    if (const QByteArray preferred = Desktop::preferredPlatform();
        !preferred.isEmpty() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", preferred);
    if (!choosePlatform())
        return 1;
    // Nothing of the app draws with OpenGL: the web view draws through Qt Quick's software
    // renderer. On X11 no OpenGL stack is loaded at all, which saves a fifth of the memory and of
    // the time to the tray icon. The web engine still asks for its shared context, which must be
    // done before the application object exists; what Qt and the engine say of its absence is
    // not passed on.
    OwnSetting openGL("QT_XCB_GL_INTEGRATION");
    if (!openGL.isSetByUser())
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    passOn = qInstallMessageHandler(withoutOpenGL);
    // One name however the program is started (/usr/bin/pinlark links to it): the windows' class,
    // which the desktop entry's StartupWMClass names, and the desktop entry's own name (Wayland's
    // app id).
    QCoreApplication::setApplicationName(QLatin1String(Product::name));
    QGuiApplication::setDesktopFileName(QLatin1String(Product::bundleIdentifier));
    QApplication app(argc, argv);
    platform.restore();
    openGL.restore();
    // Taskbars that draw a window's own icon show the app's, not a generic one.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/app.pinlark.Pinlark.svg")));
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
                                      "to run %1 --toggle-library")
                           .arg(CommandLine::program())
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
    // A save of the clipboard, and of several links, go to the status item; the rest to the
    // delegate.
    const auto route = [&](const Command& command) {
        StatusItem* item = delegate->statusItem.get();
        if (command.kind == Command::Kind::Save && command.clipboard && item) {
            item->saveClipboard();
        } else if (command.kind == Command::Kind::Save && command.links.size() > 1 && item) {
            QStringList texts;
            for (const QUrl& link : command.links)
                texts.append(link.toString());
            item->showPopoverWithText(texts.join(QLatin1Char(' ')));
        } else if (!command.clipboard) {
            delegate->handle(command);
        }
    };
    QObject::connect(&instance, &SingleInstance::commandReceived, delegate,
                     [&](const Command& command) {
                         if (launched)
                             route(command);
                         else
                             waiting.push_back(command);
                     });
    QTimer::singleShot(0, delegate, [&] {
        delegate->applicationDidFinishLaunching();
        launched = true;
        for (const Command& command : std::exchange(waiting, {}))
            route(command);
    });

    return app.exec();
}

// Exported for the launcher, which calls it in place of main. (A function of C linkage holds no
// lambda: GCC would give two of them one name.)
extern "C" __attribute__((visibility("default"))) int pinlark_main(int argc, char** argv) {
    return run(argc, argv);
}
