#include "TestSupport.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <unistd.h>

namespace pinlark {

// The web profile's cookie store across processes: every step runs in a new process of
// cookie_peer against the same XDG folders.
class TestWebEngineCookies : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHome> home;

    // Runs one peer step with the event loop going (the test may be serving its page).
    QString peer(const QStringList& args) {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(PINLARK_COOKIE_PEER_PATH), args);
        QEventLoop loop;
        connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        if (process.state() != QProcess::NotRunning)
            loop.exec();
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
            QTest::qFail("cookie_peer did not finish", __FILE__, __LINE__);
        }
        [&] { QCOMPARE(process.exitCode(), 0); }();
        return QString::fromUtf8(process.readAllStandardOutput());
    }

private Q_SLOTS:
    void init() { home = std::make_unique<TestHome>(); }
    void cleanup() { home.reset(); }

    void insertListDeleteAcrossProcesses() {
        peer({QStringLiteral("insert"), QStringLiteral("authjs.session-token"),
              QStringLiteral("tok1"), QStringLiteral("127.0.0.1")});
        peer({QStringLiteral("insert"), QStringLiteral("theme"), QStringLiteral("dark"),
              QStringLiteral(".example.test")});
        // Insert replaces the cookie with the same name, domain and path.
        peer({QStringLiteral("insert"), QStringLiteral("authjs.session-token"),
              QStringLiteral("tok2"), QStringLiteral("127.0.0.1")});
        QString listed = peer({QStringLiteral("list")});
        QVERIFY2(listed.contains(QStringLiteral("authjs.session-token=tok2 127.0.0.1 /\n")),
                 qPrintable(listed));
        QVERIFY(!listed.contains(QStringLiteral("tok1")));
        QVERIFY(listed.contains(QStringLiteral("theme=dark .example.test /\n")));
        QCOMPARE(listed.count(QLatin1Char('\n')), 2);

        // The mirror is private to the user.
        QFile mirror(home->config() + QStringLiteral("/app.pinlark.Pinlark.cookies.json"));
        QVERIFY(mirror.exists());
        QCOMPARE(mirror.permissions() & (QFile::ReadGroup | QFile::ReadOther),
                 QFile::Permissions());

        // A bare name deletes nothing; the cookie's own domain does.
        peer({QStringLiteral("delete"), QStringLiteral("theme"), QStringLiteral("other.test")});
        QVERIFY(peer({QStringLiteral("list")}).contains(QStringLiteral("theme=dark")));
        peer({QStringLiteral("delete"), QStringLiteral("theme"), QStringLiteral(".example.test")});
        listed = peer({QStringLiteral("list")});
        QVERIFY(!listed.contains(QStringLiteral("theme")));
        QVERIFY(listed.contains(QStringLiteral("authjs.session-token=tok2")));
    }

    void expiredCookiesAreNotListed() {
        const auto past = QDateTime::currentDateTimeUtc().addSecs(-3600).toMSecsSinceEpoch();
        const auto later = QDateTime::currentDateTimeUtc().addDays(30).toMSecsSinceEpoch();
        peer({QStringLiteral("insert"), QStringLiteral("short"), QStringLiteral("1"),
              QStringLiteral(".example.test"), QString::number(past)});
        peer({QStringLiteral("insert"), QStringLiteral("long"), QStringLiteral("2"),
              QStringLiteral(".example.test"), QString::number(later)});
        const QString listed = peer({QStringLiteral("list")});
        QVERIFY(!listed.contains(QStringLiteral("short=")));
        QVERIFY(listed.contains(QStringLiteral("long=2")));
    }

    void sessionCookieSetByAPageIsTheNextProcessBearer() {
        // A page on loopback that signs the user in with an HttpOnly session cookie.
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        connect(&server, &QTcpServer::newConnection, &server, [&] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                    if (!socket->readAll().contains("\r\n\r\n"))
                        return;
                    socket->write(
                        "HTTP/1.1 200 OK\r\n"
                        "Content-Type: text/html\r\n"
                        "Set-Cookie: authjs.session-token=page-token; Path=/; HttpOnly\r\n"
                        "Content-Length: 31\r\nConnection: close\r\n\r\n"
                        "<html><title>in</title></html>\n");
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
        const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort());
        QFile defaults(home->config() + QStringLiteral("/app.pinlark.Pinlark.json"));
        QVERIFY(QDir().mkpath(home->config()));
        QVERIFY(defaults.open(QIODevice::WriteOnly));
        defaults.write(QStringLiteral("{\"origin\": \"%1\"}").arg(origin).toUtf8());
        defaults.close();

        QCOMPARE(peer({QStringLiteral("bearer")}), QStringLiteral("(none)\n"));
        peer({QStringLiteral("load"), origin + QStringLiteral("/signin")});
        QCOMPARE(peer({QStringLiteral("bearer")}), QStringLiteral("page-token\n"));
    }

    // The mirror as the next start finds it: one that is not a list of cookies is kept aside and
    // replaced, one that cannot be opened is never written over, and an expiry beyond any date
    // is the latest date.
    void mirrorAsFound_data() {
        QTest::addColumn<QByteArray>("mirror"); // empty: a link to itself, which cannot be opened
        QTest::addColumn<QString>("listed");
        QTest::addColumn<bool>("keptAside");
        const QString added = QStringLiteral("new=1 .example.test /\n");
        QTest::newRow("not a list") << QByteArray("{\"name\": \"ZmFy\"}") << added << true;
        QTest::newRow("cannot be opened") << QByteArray() << QString() << false;
        QTest::newRow("expiry beyond any date")
            << QByteArray("[{\"name\": \"ZmFy\", \"value\": \"MQ==\", \"domain\": "
                          "\".example.test\", \"path\": \"/\", \"expires\": 1e300}]")
            << QStringLiteral("far=1 .example.test /\n") + added << false;
    }
    void mirrorAsFound() {
        QFETCH(QByteArray, mirror);
        QFETCH(QString, listed);
        QFETCH(bool, keptAside);
        const QString path = home->config() + QStringLiteral("/app.pinlark.Pinlark.cookies.json");
        QVERIFY(QDir().mkpath(home->config()));
        if (mirror.isEmpty()) {
            QVERIFY(::symlink(QFile::encodeName(path).constData(),
                              QFile::encodeName(path).constData()) == 0);
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(mirror);
        }
        peer({QStringLiteral("insert"), QStringLiteral("new"), QStringLiteral("1"),
              QStringLiteral(".example.test")});
        QCOMPARE(peer({QStringLiteral("list")}), listed);
        const QStringList aside =
            QDir(home->config()).entryList({QStringLiteral("*.cookies.json.corrupt-*")});
        QCOMPARE(aside.size(), keptAside ? 1 : 0);
        if (keptAside) {
            QFile kept(home->config() + QLatin1Char('/') + aside.first());
            QVERIFY(kept.open(QIODevice::ReadOnly));
            QCOMPARE(kept.readAll(), mirror);
        }
        if (mirror.isEmpty())
            QVERIFY(QFileInfo(path).isSymLink());
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestWebEngineCookies)
#include "tst_webenginecookies.moc"
