#include "PagePeer.h"
#include "TestSupport.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

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
        if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 60000))
            qFatal("cookie_peer did not finish");
        [&] { QCOMPARE(process.exitCode(), 0); }();
        return QString::fromUtf8(process.readAllStandardOutput());
    }

private Q_SLOTS:
    void init() { home = std::make_unique<TestHome>(); }
    void cleanup() { home.reset(); }

    // An expired cookie is not listed.
    void insertListDeleteAcrossProcesses() {
        const auto past = QDateTime::currentDateTimeUtc().addSecs(-3600).toMSecsSinceEpoch();
        peer({u"insert"_s, u"short"_s, u"1"_s, u".example.test"_s, QString::number(past)});
        peer({u"insert"_s, u"authjs.session-token"_s, u"tok1"_s, u"127.0.0.1"_s});
        peer({u"insert"_s, u"theme"_s, u"dark"_s, u".example.test"_s});
        // Insert replaces the cookie with the same name, domain and path; the next process reads
        // its Secure and HttpOnly flags back.
        peer({u"insert"_s, u"authjs.session-token"_s, u"tok2"_s, u"127.0.0.1"_s, u"secure"_s,
              u"httponly"_s});
        const QString token = u"authjs.session-token=tok2 127.0.0.1 / secure httponly\n"_s;
        const QString both = u"theme=dark .example.test /\n"_s + token;
        QCOMPARE(peer({u"list"_s}), both);

        // The mirror is private to the user.
        QFile mirror(home->config() + u"/app.pinlark.Pinlark.cookies.json"_s);
        QVERIFY(mirror.exists());
        QCOMPARE(mirror.permissions() & (QFile::ReadGroup | QFile::ReadOther),
                 QFile::Permissions());

        // A bare name deletes nothing; the cookie's own domain does.
        peer({u"delete"_s, u"theme"_s, u"other.test"_s});
        QCOMPARE(peer({u"list"_s}), both);
        peer({u"delete"_s, u"theme"_s, u".example.test"_s});
        QCOMPARE(peer({u"list"_s}), token);
    }

    // A page's own sign-in and sign-out are announced as they happen; a sign-out of the app's
    // own, made before the web engine has started, reaches the engine once it starts.
    void sessionCookieSetByAPageIsTheNextProcessBearer() {
        // A page on loopback that signs the user in with an HttpOnly session cookie.
        PagePeer server;
        server.answers[u"/signin"_s] =
            httpAnswer("200 OK", "text/html", "<html><title>in</title></html>",
                       "Set-Cookie: authjs.session-token=page-token; Path=/; HttpOnly\r\n");
        server.answers[u"/signout"_s] =
            httpAnswer("200 OK", "text/html", "<html><title>out</title></html>",
                       "Set-Cookie: authjs.session-token=; Path=/; Max-Age=0\r\n");
        const QString origin = server.url().toString();
        QVERIFY(writeFile(home->config() + u"/app.pinlark.Pinlark.json"_s,
                          u"{\"origin\": \"%1\"}"_s.arg(origin).toUtf8()));

        QCOMPARE(peer({u"bearer"_s}), u"(none)\n"_s);
        QCOMPARE(peer({u"load"_s, origin + u"/signin"_s}), u"session changed\n"_s);
        QCOMPARE(peer({u"bearer"_s}), u"page-token\n"_s);
        QCOMPARE(peer({u"load"_s, origin + u"/signout"_s}), u"session changed\n"_s);
        QCOMPARE(peer({u"bearer"_s}), u"(none)\n"_s);

        server.answers[u"/check"_s] = httpAnswer("200 OK", "text/html", "<title>c</title>");
        QCOMPARE(peer({u"load"_s, origin + u"/signin"_s}), u"session changed\n"_s);
        QCOMPARE(peer({u"delete-load"_s, u"authjs.session-token"_s, u"127.0.0.1"_s,
                       origin + u"/check"_s}),
                 QString());
        QCOMPARE(server.cookies.value(u"/check"_s), QByteArray());
        QCOMPARE(peer({u"load"_s, origin + u"/check"_s}), QString());
        QCOMPARE(server.cookies.value(u"/check"_s), QByteArray());
        QCOMPARE(peer({u"bearer"_s}), u"(none)\n"_s);
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
            QVERIFY(writeFile(path, mirror));
        }
        peer({u"insert"_s, u"new"_s, u"1"_s, u".example.test"_s});
        QCOMPARE(peer({u"list"_s}), listed);
        const QStringList aside =
            QDir(home->config()).entryList({QStringLiteral("*.cookies.json.corrupt-*")});
        QCOMPARE(aside.size(), keptAside ? 1 : 0);
        if (keptAside)
            QCOMPARE(readFile(home->config() + QLatin1Char('/') + aside.first()), mirror);
        if (mirror.isEmpty())
            QVERIFY(QFileInfo(path).isSymLink());
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestWebEngineCookies)
#include "tst_webenginecookies.moc"
