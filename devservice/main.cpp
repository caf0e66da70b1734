// pinlark-devservice: the stand-in for the Pinlark web service, on loopback. It keeps its
// accounts, sessions and saves in a data folder, or in memory.
//
//   pinlark-devservice [--port N] [--host H] [--data DIR] [--releases DIR] [--settle-after N]
//                      [--settle-after-ms N]
//
// Prints its origin (e.g. http://127.0.0.1:41234) as the first line and serves until killed.

#include "BoundedServer.h"
#include "Releases.h"
#include "Routes.h"
#include "Store.h"

#include <httplib.h>

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <optional>

namespace {

struct Options {
    std::string host = "127.0.0.1";
    int port = 0;
    QString data;
    QString releases;
    pinlark::devservice::Store::Settling settling;
};

constexpr const char* usage =
    "usage: pinlark-devservice [--port N] [--host H] [--data DIR] [--releases DIR]\n"
    "                          [--settle-after N] [--settle-after-ms N]\n"
    "  --port N             port to listen on; 0 (the default) picks a free one\n"
    "  --host H             address to listen on (default 127.0.0.1)\n"
    "  --data DIR           keep accounts, sessions and saves in DIR (default: in memory)\n"
    "  --releases DIR       update manifests (*.json) and archives to publish\n"
    "  --settle-after N     reads of a save before its status settles (default 2)\n"
    "  --settle-after-ms N  time from saving to settling, read or not (default: 1 to 2 s,\n"
    "                       different for each save)\n";

std::optional<int> number(const QString& text, int min, int max) {
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < min || n > max)
        return std::nullopt;
    return n;
}

std::optional<Options> parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const QString name = QString::fromLocal8Bit(argv[i]);
        if (i + 1 >= argc)
            return std::nullopt;
        const QString value = QString::fromLocal8Bit(argv[++i]);
        if (name == QLatin1String("--port")) {
            const auto port = number(value, 0, 65535);
            if (!port)
                return std::nullopt;
            options.port = *port;
        } else if (name == QLatin1String("--host")) {
            options.host = value.toStdString();
        } else if (name == QLatin1String("--data")) {
            options.data = value;
        } else if (name == QLatin1String("--releases")) {
            options.releases = value;
        } else if (name == QLatin1String("--settle-after")) {
            const auto n = number(value, 0, 1000000);
            if (!n)
                return std::nullopt;
            options.settling.reads = *n;
        } else if (name == QLatin1String("--settle-after-ms")) {
            const auto n = number(value, 0, 24 * 3600 * 1000);
            if (!n)
                return std::nullopt;
            options.settling.afterMs = *n;
        } else {
            return std::nullopt;
        }
    }
    return options;
}

} // namespace

int main(int argc, char** argv) {
    using namespace pinlark::devservice;
    const auto options = parse(argc, argv);
    if (!options) {
        std::fputs(usage, stderr);
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    // Qt SQL loads its SQLite driver through the application's plugin paths.
    const QCoreApplication application(argc, argv);

    Store store(options->settling);
    if (const auto problem = store.open(options->data)) {
        std::fprintf(stderr, "%s\n", qPrintable(*problem));
        return 1;
    }
    const Releases releases(options->releases);
    BoundedServer server;
    // A worker serves one connection at a time, also while it waits for the next request: many
    // workers, and an idle connection closed soon, so a few idle or slow clients can't take all.
    server.new_task_queue = [] { return new httplib::ThreadPool(64); };
    server.set_keep_alive_max_count(100000);
    server.set_keep_alive_timeout(2);
    server.set_tcp_nodelay(true);
    server.set_payload_max_length(64 * 1024);

    int port = options->port;
    if (port == 0)
        port = server.bind_to_any_port(options->host);
    else if (!server.bind_to_port(options->host, port))
        port = -1;
    if (port < 0) {
        std::fprintf(stderr, "pinlark-devservice: can't listen on %s:%d\n", options->host.c_str(),
                     options->port);
        return 1;
    }
    // The requests it records, sessions included, are shown only to the machine itself.
    const Routes routes(server, store, releases, server.listensOnLoopback());
    const bool ipv6 = options->host.find(':') != std::string::npos;
    std::printf(ipv6 ? "http://[%s]:%d\n" : "http://%s:%d\n", options->host.c_str(), port);
    std::fflush(stdout);
    return server.listen_after_bind() ? 0 : 1;
}
