#include "library/Dashboard.h"
#include "library/LoadBar.h"
#include "platform/Platform.h"
#include "platform/fake/FakeServices.h"
#include "platform/fake/ManualClock.h"
#include "platform/qt/WebEngineCookieStore.h"
#include "session/Session.h"
#include "support/TestSupport.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QWebEngineLoadingInfo>
#include <QWebEngineView>

using namespace pinlark;

namespace {

QByteArray ok(const QByteArray& html, const QByteArray& extraHeaders = {}) {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nConnection: close\r\n" +
           extraHeaders + "Content-Length: " + QByteArray::number(html.size()) + "\r\n\r\n" + html;
}

// A loopback HTTP server with fixed answers by request path ("/saves"); a path in `hanging`
// is read and never answered.
class PageServer : public QObject {
public:
    PageServer() {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection())
                serve(socket);
        });
    }
    QUrl url(const QString& path, const QString& host = QStringLiteral("127.0.0.1")) const {
        return QUrl(
            QStringLiteral("http://%1:%2%3").arg(host).arg(m_server.serverPort()).arg(path));
    }
    int count(const QString& path) const { return int(requested.count(path)); }

    QHash<QString, QByteArray> answers;
    // A POST to the key is answered as a request for the value.
    QHash<QString, QString> postAnswers;
    QStringList hanging;
    QStringList requested;
    QByteArray lastUserAgent;

private:
    void serve(QTcpSocket* socket) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
            QByteArray& buffer = m_buffers[socket];
            buffer += socket->readAll();
            const qsizetype end = buffer.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            const QList<QByteArray> lines = buffer.left(end).split('\n');
            const QList<QByteArray> requestLine = lines.value(0).split(' ');
            QString path = QString::fromUtf8(requestLine.value(1));
            if (requestLine.value(0) == "POST")
                path = postAnswers.value(path, path);
            qsizetype length = 0;
            for (const QByteArray& line : lines) {
                if (line.toLower().startsWith("user-agent:"))
                    lastUserAgent = line.mid(11).trimmed();
                if (line.toLower().startsWith("content-length:"))
                    length = line.mid(15).trimmed().toLongLong();
            }
            // Answering before the body is read would reset the connection.
            if (buffer.size() < end + 4 + length)
                return;
            m_buffers.remove(socket);
            requested.append(path);
            if (hanging.contains(path))
                return;
            socket->write(answers.value(path, "HTTP/1.1 404 Not Found\r\nConnection: "
                                              "close\r\nContent-Length: 0\r\n\r\n"));
            socket->disconnectFromHost();
        });
    }
    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_buffers;
};

// A loopback port that nobody listens on.
quint16 closedPort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort();
}

QVariant evaluate(QWebEngineView* view, const QString& script) {
    QVariant result;
    bool done = false;
    view->page()->runJavaScript(script, [&](const QVariant& v) {
        result = v;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, 10000))
        qWarning("script did not answer: %s", qPrintable(script));
    return result;
}

// Loads `url` through the library window and waits until that load has finished.
bool loadAndWait(const QUrl& url) {
    QSignalSpy finished(Dashboard::shared().webView()->page(), &QWebEnginePage::loadFinished);
    Dashboard::shared().load(url);
    return QTest::qWaitFor([&] { return !finished.isEmpty(); }, 20000);
}

QString html(QWebEngineView* view) {
    return evaluate(view, QStringLiteral("document.documentElement.outerHTML")).toString();
}

} // namespace

class TestDashboard : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        m_server.answers[QStringLiteral("/saves")] =
            ok("<html><head><title>Saves</title></head><body>saves</body></html>");
        m_server.answers[QStringLiteral("/blank")] =
            ok("<html><head><title> \n\t </title></head><body>x</body></html>");
        m_server.answers[QStringLiteral("/untitled")] = ok("<html><body>no title</body></html>");
        m_server.answers[QStringLiteral("/padded")] =
            ok("<html><head><title>\n  My links  \n</title></head></html>");
        m_server.hanging.append(QStringLiteral("/hang"));
        m_server.answers[QStringLiteral("/signin")] =
            ok("<html><body><form method=post action=\"/signin\"><input name=email></form>"
               "</body></html>");
        m_server.answers[QStringLiteral("/signin-post")] =
            "HTTP/1.1 302 Found\r\nLocation: /saves\r\nSet-Cookie: "
            "authjs.session-token=tok-123; Path=/; HttpOnly\r\nConnection: "
            "close\r\nContent-Length: 0\r\n\r\n";
        const QByteArray outside = m_server.url(QStringLiteral("/target"), "localhost").toEncoded();
        const auto fullPageLink = [](const QByteArray& attributes) {
            return ok("<html><body><a " + attributes +
                      " style=\"display:block;position:fixed;inset:0\">go</a></body></html>");
        };
        m_server.answers[QStringLiteral("/target")] = ok("<html><body>target</body></html>");
        m_server.answers[QStringLiteral("/link-out")] = fullPageLink("href=\"" + outside + "\"");
        m_server.answers[QStringLiteral("/link-in")] = fullPageLink("href=\"/saves\"");
        m_server.answers[QStringLiteral("/link-new-window")] =
            fullPageLink("href=\"/saves\" target=\"_blank\"");
        m_server.answers[QStringLiteral("/window-open")] =
            fullPageLink("href=\"#\" onclick=\"window.open('" + outside + "'); return false\"");
        m_server.answers[QStringLiteral("/redirect-out")] =
            "HTTP/1.1 302 Found\r\nLocation: " + outside +
            "\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
        m_server.answers[QStringLiteral("/form-out")] =
            ok("<html><body><form method=post action=\"" + outside +
               "\"></form><script>document.forms[0].submit()</script></body></html>");
        m_server.answers[QStringLiteral("/script-out")] =
            ok("<html><body><script>location.href = \"" + outside + "\"</script></body></html>");

        Platform::Services s;
        auto defaults = std::make_unique<FakeUserDefaults>();
        defaults->set(QStringLiteral("origin"), m_server.url(QString()).toString());
        m_defaults = defaults.get();
        s.defaults = std::move(defaults);
        s.cookieStore = std::make_unique<WebEngineCookieStore>();
        auto clock = std::make_unique<ManualClock>();
        m_clock = clock.get();
        s.clock = std::move(clock);
        auto workspace = std::make_unique<FakeWorkspace>();
        m_workspace = workspace.get();
        s.workspace = std::move(workspace);
        auto policy = std::make_unique<FakeActivationPolicy>();
        m_policy = policy.get();
        s.activationPolicy = std::move(policy);
        Platform::install(std::move(s));
    }

    void init() {
        m_workspace->opened.clear();
        m_policy->changes.clear();
    }

    // First use loads the home page; showing makes the app regular and active.
    void homePage() {
        Dashboard& d = Dashboard::shared();
        QCOMPARE(d.window()->windowTitle(), QStringLiteral("Pinlark"));
        QCOMPARE(d.window()->minimumSize(), QSize(580, 460));
        d.show();
        QVERIFY(d.window()->isVisible());
        QCOMPARE(m_policy->current, ActivationPolicy::Policy::Regular);
        QVERIFY(m_policy->activations > 0);
        QTRY_COMPARE_WITH_TIMEOUT(d.window()->windowTitle(), QStringLiteral("Saves"), 20000);
        QCOMPARE(d.webView()->url(), Dashboard::homeURL());
        QCOMPARE(m_server.count(QStringLiteral("/saves")), 1);
        QCOMPARE(m_server.lastUserAgent, QByteArray(Dashboard::userAgent));
        QCOMPARE(evaluate(d.webView(), QStringLiteral("navigator.userAgent")).toString(),
                 QLatin1String(Dashboard::userAgent));
        QCOMPARE(d.loadBar()->value(), 0.0);
        QCOMPARE(d.loadBar()->geometry(), QRect(0, 0, d.window()->width(), 2));
    }

    void title_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("white space") << "/blank"
                                     << "Pinlark";
        QTest::newRow("no title element") << "/untitled"
                                          << "Pinlark";
        QTest::newRow("trimmed") << "/padded"
                                 << "My links";
    }
    void title() {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        Dashboard& d = Dashboard::shared();
        d.window()->setWindowTitle(QStringLiteral("before"));
        d.load(m_server.url(path));
        QTRY_COMPARE_WITH_TIMEOUT(d.window()->windowTitle(), expected, 20000);
    }

    // Where a click on the page (or its own script) leads: the web view's URL afterwards and
    // what was handed to the browser.
    void navigation_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("click");
        QTest::addColumn<QString>("endsAt");
        QTest::addColumn<QString>("opened");
        const QString outside = m_server.url(QStringLiteral("/target"), "localhost").toString();
        const QString saves = Dashboard::homeURL().toString();
        QTest::newRow("link out") << "/link-out" << true << "/link-out" << outside;
        QTest::newRow("link in") << "/link-in" << true << saves << QString();
        QTest::newRow("new-window link, own host")
            << "/link-new-window" << true << "/link-new-window" << saves;
        QTest::newRow("window.open") << "/window-open" << true << "/window-open" << outside;
        QTest::newRow("redirect out") << "/redirect-out" << false << outside << QString();
        QTest::newRow("form post out") << "/form-out" << false << outside << QString();
        QTest::newRow("script out") << "/script-out" << false << outside << QString();
    }
    void navigation() {
        QFETCH(QString, path);
        QFETCH(bool, click);
        QFETCH(QString, endsAt);
        QFETCH(QString, opened);
        const QUrl expected =
            endsAt.startsWith(QLatin1Char('/')) ? m_server.url(endsAt) : QUrl(endsAt);
        Dashboard& d = Dashboard::shared();
        d.show();
        const int requests = m_server.count(expected.path());
        QVERIFY(loadAndWait(m_server.url(path)));
        if (click) {
            QWidget* surface = d.webView()->focusProxy();
            QVERIFY(surface);
            QTest::mouseClick(surface, Qt::LeftButton, {}, surface->rect().center());
        }
        if (!opened.isEmpty())
            QTRY_COMPARE_WITH_TIMEOUT(m_workspace->opened, QList<QUrl>{QUrl(opened)}, 20000);
        if (expected != m_server.url(path))
            QTRY_VERIFY_WITH_TIMEOUT(m_server.count(expected.path()) > requests, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(d.webView()->url(), expected, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!d.webView()->page()->isLoading(), 20000);
        QCOMPARE(m_workspace->opened, opened.isEmpty() ? QList<QUrl>{} : QList<QUrl>{QUrl(opened)});
    }

    // The session the web app sets inside the window is the one the app sends as bearer.
    void signInInsideTheWindow() {
        Dashboard& d = Dashboard::shared();
        QCOMPARE(runTask(Session::bearer()), std::nullopt);
        QVERIFY(loadAndWait(m_server.url(QStringLiteral("/signin"))));
        m_server.postAnswers[QStringLiteral("/signin")] = QStringLiteral("/signin-post");
        evaluate(d.webView(), QStringLiteral("document.forms[0].email.value = 'a@example.test';"
                                             "document.forms[0].submit()"));
        QTRY_COMPARE_WITH_TIMEOUT(d.webView()->url(), Dashboard::homeURL(), 20000);
        QCOMPARE(runTask(Session::bearer()), std::optional<QString>(QStringLiteral("tok-123")));
    }

    void unreachable() {
        Dashboard& d = Dashboard::shared();
        d.load(QUrl(QStringLiteral("http://127.0.0.1:%1/saves").arg(closedPort())));
        QTRY_VERIFY_WITH_TIMEOUT(d.isShowingErrorPage(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(html(d.webView()).contains(QStringLiteral("Can’t reach Pinlark")),
                                 20000);
        QVERIFY(html(d.webView()).contains(QStringLiteral("ERR_CONNECTION_REFUSED")));
        QTRY_COMPARE_WITH_TIMEOUT(d.window()->windowTitle(), QStringLiteral("Pinlark"), 20000);
        QCOMPARE(d.loadBar()->value(), 0.0);

        // Reopening the window retries the home page.
        d.hide();
        d.show();
        QTRY_COMPARE_WITH_TIMEOUT(d.window()->windowTitle(), QStringLiteral("Saves"), 20000);
        QVERIFY(!d.isShowingErrorPage());
    }

    void timeout() {
        Dashboard& d = Dashboard::shared();
        d.load(m_server.url(QStringLiteral("/hang")));
        QTRY_VERIFY_WITH_TIMEOUT(m_server.requested.contains(QStringLiteral("/hang")), 20000);
        m_clock->advance(std::chrono::seconds(59));
        QVERIFY(!d.isShowingErrorPage());
        m_clock->advance(std::chrono::seconds(1));
        QVERIFY(d.isShowingErrorPage());
        QTRY_VERIFY_WITH_TIMEOUT(
            html(d.webView()).contains(QStringLiteral("The request timed out.")), 20000);
    }

    // A load that finished in time is not replaced when the time-out would have passed.
    void finishedLoadIsNotTimedOut() {
        Dashboard& d = Dashboard::shared();
        d.window()->setWindowTitle(QStringLiteral("before"));
        d.load(Dashboard::homeURL());
        QTRY_COMPARE_WITH_TIMEOUT(d.window()->windowTitle(), QStringLiteral("Saves"), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(m_clock->pendingCount(), 0, 20000);
        m_clock->advance(std::chrono::seconds(61));
        QVERIFY(!d.isShowingErrorPage());
    }

    // Closing hides the window and switches back to accessory after the event; showing brings
    // back the same document without a reload.
    void closeHides() {
        Dashboard& d = Dashboard::shared();
        d.show();
        QTRY_COMPARE_WITH_TIMEOUT(d.window()->windowTitle(), QStringLiteral("Saves"), 20000);
        evaluate(d.webView(), QStringLiteral("window.marker = 42"));
        const int requests = m_server.count(QStringLiteral("/saves"));

        QVERIFY(!d.window()->close());
        QVERIFY(!d.window()->isVisible());
        QCOMPARE(m_policy->current, ActivationPolicy::Policy::Regular);
        QTRY_COMPARE(m_policy->current, ActivationPolicy::Policy::Accessory);

        d.show();
        QVERIFY(d.window()->isVisible());
        QCOMPARE(m_policy->current, ActivationPolicy::Policy::Regular);
        QCOMPARE(evaluate(d.webView(), QStringLiteral("window.marker")).toInt(), 42);
        QCOMPARE(m_server.count(QStringLiteral("/saves")), requests);
    }

    // Hidden and shown again within one event: the app stays regular.
    void hideThenShowStaysRegular() {
        Dashboard& d = Dashboard::shared();
        d.hide();
        d.show();
        QCoreApplication::processEvents();
        QCOMPARE(m_policy->current, ActivationPolicy::Policy::Regular);
        QVERIFY(!m_policy->changes.contains(ActivationPolicy::Policy::Accessory));
    }

    void frameIsSavedOnHide() {
        Dashboard& d = Dashboard::shared();
        d.show();
        const QRect frame(40, 30, 700, 500);
        d.window()->setGeometry(frame);
        d.hide();
        QCOMPARE(m_defaults->string(QLatin1String(Dashboard::frameKey)),
                 QStringLiteral("40 30 700 500"));
    }

    // The time-out is the page request's: a page that arrived stays, whatever its images do.
    void committedPageIsNotTimedOut() {
        m_server.answers[QStringLiteral("/slow-image")] =
            ok("<html><head><title>Slow image</title></head><body><img src=\"/slow.png\">"
               "</body></html>");
        m_server.hanging.append(QStringLiteral("/slow.png"));
        Dashboard& d = Dashboard::shared();
        d.load(m_server.url(QStringLiteral("/slow-image")));
        QTRY_VERIFY_WITH_TIMEOUT(m_server.requested.contains(QStringLiteral("/slow.png")), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(d.window()->windowTitle(), QStringLiteral("Slow image"), 20000);
        QVERIFY(d.webView()->page()->isLoading());
        m_clock->advance(std::chrono::seconds(61));
        QVERIFY(!d.isShowingErrorPage());
    }

    // Loads that end without a document and without failing leave what is shown alone.
    void stoppedLoadIsNotTimedOut_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("204") << "/no-content";
        QTest::newRow("download") << "/download";
        QTest::newRow("stopped") << "/hang";
    }
    void stoppedLoadIsNotTimedOut() {
        QFETCH(QString, path);
        m_server.answers[QStringLiteral("/no-content")] =
            "HTTP/1.1 204 No Content\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
        m_server.answers[QStringLiteral("/download")] =
            ok("x", "Content-Disposition: attachment; filename=x.html\r\n");
        Dashboard& d = Dashboard::shared();
        QVERIFY(loadAndWait(Dashboard::homeURL()));
        const int requests = m_server.count(path);
        QSignalSpy finished(d.webView()->page(), &QWebEnginePage::loadFinished);
        d.load(m_server.url(path));
        QTRY_VERIFY_WITH_TIMEOUT(m_server.count(path) > requests, 20000);
        if (m_server.hanging.contains(path))
            d.webView()->stop();
        QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 20000);
        m_clock->advance(std::chrono::seconds(61));
        QVERIFY(!d.isShowingErrorPage());
        QCOMPARE(d.webView()->url(), Dashboard::homeURL());
    }

private:
    // A fresh profile and defaults for every run: nothing signed in from an earlier one.
    TestHome m_home;
    PageServer m_server;
    FakeUserDefaults* m_defaults = nullptr;
    ManualClock* m_clock = nullptr;
    FakeWorkspace* m_workspace = nullptr;
    FakeActivationPolicy* m_policy = nullptr;
};

QTEST_MAIN(TestDashboard)
#include "tst_dashboard.moc"
