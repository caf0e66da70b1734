#include "DevService.h"

#include "Curl.h"
#include "TestSupport.h"

#include <QJsonDocument>

using namespace Qt::StringLiterals;

namespace pinlark {

DevService::DevService(QStringList extraArguments) {
#ifdef PINLARK_DEVSERVICE_PATH
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.setChildProcessModifier(diesWithParent);
    // Saves settle only as they are read, unless a test sets the service's clock: nothing
    // depends on how fast the test runs.
    m_process.start(QStringLiteral(PINLARK_DEVSERVICE_PATH),
                    QStringList{u"--port"_s, u"0"_s, u"--settle-after-ms"_s, u"86400000"_s} +
                        extraArguments);
    if (!m_process.waitForStarted(10000))
        return;
    // The first line it prints is its origin.
    while (!m_process.canReadLine() && m_process.waitForReadyRead(10000)) {
    }
    const QUrl origin(QString::fromUtf8(m_process.readLine().trimmed()));
    if (origin.isValid() && origin.scheme() == "http"_L1)
        m_origin = origin;
#else
    Q_UNUSED(extraArguments);
#endif
}

DevService::~DevService() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QUrl DevService::url(const QString& path) const {
    QUrl u = m_origin;
    u.setPath(u'/' + path);
    return u;
}

QString DevService::signIn(const QString& email) {
    // Set-Cookie: authjs.session-token=<token>; <attributes>
    return curl({u"--data-urlencode"_s, u"email="_s + email, url(u"signin"_s).toString()})
        .headers.value(u"set-cookie"_s)
        .section(u';', 0, 0)
        .section(u'=', 1);
}

QJsonArray DevService::requests() {
    const CurlAnswer log = curl({url(u"dev/requests"_s).toString()});
    // An unreadable log must not pass for an empty one.
    if (log.status != 200)
        qFatal("the stand-in's request log answered %d", log.status);
    return QJsonDocument::fromJson(log.body).array();
}

void DevService::clearRequests() {
    curl({u"-X"_s, u"DELETE"_s, url(u"dev/requests"_s).toString()});
}

} // namespace pinlark
