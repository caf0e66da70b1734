// defaults: the Linux stand-in for the system's defaults tool, writing only.
//
//   defaults write DOMAIN KEY -bool YES|NO|TRUE|FALSE|1|0
//   defaults write DOMAIN KEY -string TEXT
//
// Writes the preferences file of DOMAIN, $XDG_CONFIG_HOME/DOMAIN.json, through the app's own
// UserDefaults class, so the lock and the atomic replacement are the app's.

#include "platform/linux/FileUserDefaults.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cstdio>

namespace {

int usage() {
    std::fputs("usage: defaults write DOMAIN KEY -bool YES|NO\n"
               "       defaults write DOMAIN KEY -string TEXT\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() != 5 || args[0] != QLatin1String("write"))
        return usage();
    const QString& domain = args[1];
    static const QRegularExpression plainName(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9._-]*$"));
    if (!plainName.match(domain).hasMatch()) {
        std::fprintf(stderr, "defaults: %s is not a domain name\n", qPrintable(domain));
        return 1;
    }
    const QString path = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                         QLatin1Char('/') + domain + QLatin1String(".json");
    pinlark::FileUserDefaults defaults(path);
    const QString& key = args[2];
    const QString& type = args[3];
    const QString& value = args[4];
    pinlark::UserDefaults::Value written;
    if (type == QLatin1String("-bool") || type == QLatin1String("-boolean")) {
        const QString v = value.toLower();
        if (v == QLatin1String("yes") || v == QLatin1String("true") || v == QLatin1String("1"))
            written = true;
        else if (v == QLatin1String("no") || v == QLatin1String("false") || v == QLatin1String("0"))
            written = false;
        else
            return usage();
    } else if (type == QLatin1String("-string")) {
        written = value;
    } else {
        return usage();
    }
    defaults.setValue(key, written);
    // The class reports a failed write in the log only; read it back to answer truthfully.
    if (defaults.value(key) != written) {
        std::fprintf(stderr, "defaults: could not write %s\n", qPrintable(path));
        return 1;
    }
    return 0;
}
