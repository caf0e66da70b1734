#include "DevService.h"

#include "TestSupport.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrlQuery>

using namespace Qt::StringLiterals;

namespace pinlark {

namespace {
// A blocking exchange for test set-up, with a watchdog.
QByteArray exchange(QNetworkAccessManager& manager, const QNetworkRequest& request,
                    const QByteArray& method, const QByteArray& body, QNetworkReply** out) {
    QNetworkReply* reply = manager.sendCustomRequest(request, method, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    if (!reply->isFinished())
        reply->abort();
    *out = reply;
    return reply->readAll();
}
} // namespace

DevService::DevService(QStringList extraArguments) {
#ifdef PINLARK_DEVSERVICE_PATH
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.setChildProcessModifier(diesWithParent);
    m_process.start(QStringLiteral(PINLARK_DEVSERVICE_PATH),
                    QStringList{u"--port"_s, u"0"_s} + extraArguments);
    if (!m_process.waitForStarted(10000))
        return;
    // The first line it prints is its origin.
    while (!m_process.canReadLine() && m_process.waitForReadyRead(10000)) {
    }
    const QByteArray line = m_process.readLine().trimmed();
    const QUrl origin(QString::fromUtf8(line));
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
    QNetworkAccessManager manager;
    manager.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    QNetworkRequest request(url(u"signin"_s));
    request.setHeader(QNetworkRequest::ContentTypeHeader, u"application/x-www-form-urlencoded"_s);
    QUrlQuery form;
    form.addQueryItem(u"email"_s, email);
    QNetworkReply* reply = nullptr;
    exchange(manager, request, "POST", form.toString(QUrl::FullyEncoded).toUtf8(), &reply);
    QString token;
    for (const QNetworkCookie& c :
         reply->header(QNetworkRequest::SetCookieHeader).value<QList<QNetworkCookie>>()) {
        if (c.name().endsWith("authjs.session-token"))
            token = QString::fromUtf8(c.value());
    }
    reply->deleteLater();
    return token;
}

QJsonArray DevService::requests() {
    QNetworkAccessManager manager;
    QNetworkReply* reply = nullptr;
    const QByteArray body =
        exchange(manager, QNetworkRequest(url(u"dev/requests"_s)), "GET", {}, &reply);
    reply->deleteLater();
    // An unreadable log must not pass for an empty one.
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status != 200)
        qFatal("the stand-in's request log answered %d", status);
    return QJsonDocument::fromJson(body).array();
}

void DevService::clearRequests() {
    QNetworkAccessManager manager;
    QNetworkReply* reply = nullptr;
    exchange(manager, QNetworkRequest(url(u"dev/requests"_s)), "DELETE", {}, &reply);
    reply->deleteLater();
}

} // namespace pinlark
