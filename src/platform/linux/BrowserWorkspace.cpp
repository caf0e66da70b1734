#include "platform/linux/BrowserWorkspace.h"

#include <QProcess>
#include <QUrl>

namespace pinlark {

QList<QStringList> BrowserWorkspace::commands(const QString& browserVariable, const QString& url) {
    QList<QStringList> result;
    for (const QString& command : browserVariable.split(u':', Qt::SkipEmptyParts)) {
        QStringList words = QProcess::splitCommand(command);
        if (words.isEmpty())
            continue;
        bool placed = false;
        for (qsizetype i = 1; i < words.size(); ++i) {
            if (!words[i].contains(QLatin1String("%s")))
                continue;
            words[i].replace(QLatin1String("%s"), url);
            placed = true;
        }
        if (!placed)
            words.append(url);
        result.append(words);
    }
    result.append({QStringLiteral("xdg-open"), url});
    return result;
}

bool BrowserWorkspace::openExternally(const QUrl& url) {
    const QString browser = qEnvironmentVariable("BROWSER");
    for (QStringList command : commands(browser, url.toString(QUrl::FullyEncoded))) {
        const QString program = command.takeFirst();
        if (QProcess::startDetached(program, command))
            return true;
    }
    return false;
}

} // namespace pinlark
