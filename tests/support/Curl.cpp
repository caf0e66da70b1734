#include "Curl.h"

#include <QJsonDocument>
#include <QProcess>
#include <QTest>

namespace pinlark {

QJsonObject CurlAnswer::json() const {
    return QJsonDocument::fromJson(body).object();
}

QString CurlAnswer::error() const {
    return json()[QLatin1String("error")].toString();
}

CurlAnswer curl(const QStringList& arguments, const QByteArray& input) {
    QProcess process;
    process.start(QStringLiteral("curl"), QStringList{QStringLiteral("-sS"), QStringLiteral("-i"),
                                                      QStringLiteral("--http1.1")} +
                                              arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 30000))
        qWarning("curl did not finish");
    const QByteArray out = process.readAllStandardOutput();
    CurlAnswer answer;
    const qsizetype end = out.indexOf("\r\n\r\n");
    if (end < 0)
        return answer;
    const QList<QByteArray> lines = out.left(end).split('\n');
    answer.status = lines.first().split(' ').value(1).toInt();
    for (const QByteArray& line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            answer.headers.insert(QString::fromLatin1(line.left(colon)).toLower(),
                                  QString::fromUtf8(line.mid(colon + 1).trimmed()));
    }
    answer.body = out.mid(end + 4);
    return answer;
}

} // namespace pinlark
