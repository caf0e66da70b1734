#include "platform/fake/FakePlatform.h"
#include "platform/linux/BrowserWorkspace.h"
#include "service/Config.h"
#include "session/Connect.h"
#include "session/HandBack.h"
#include "session/HttpRequestReader.h"
#include "session/LoopbackListener.h"
#include "support/TestSupport.h"

#include <QRegularExpression>
#include <QTest>
#include <QUrlQuery>

Q_DECLARE_METATYPE(pinlark::HttpRequestReader::Step)
Q_DECLARE_METATYPE(std::optional<QString>)
Q_DECLARE_METATYPE(std::optional<qint64>)

namespace pinlark {

using Step = HttpRequestReader::Step;
using Answer = HandBack::Answer;

namespace {
const char origin[] = "https://pinlark.example";
const char state[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJ-_01234";

QByteArray post(const QByteArray& body,
                const QByteArray& originLine = "Origin: " + QByteArray(origin)) {
    return "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\n" + originLine +
           "\r\nContent-Type: application/json\r\n\r\n" + body;
}
QByteArray handBack(const QByteArray& members) {
    return R"({"token":"tok","cookieName":"authjs.session-token",)" + members + "}";
}
QByteArray cors(const QByteArray& status, const QByteArray& body) {
    return "HTTP/1.1 " + status +
           "\r\naccess-control-allow-origin: https://pinlark.example\r\n"
           "access-control-allow-methods: POST, OPTIONS\r\n"
           "access-control-allow-headers: content-type\r\n"
           "access-control-allow-private-network: true\r\n"
           "access-control-max-age: 600\r\n"
           "vary: origin\r\n"
           "content-type: application/json\r\ncontent-length: " +
           QByteArray::number(body.size()) + "\r\nconnection: close\r\n\r\n" + body;
}
QByteArray plain(const QByteArray& status, const QByteArray& body) {
    return "HTTP/1.1 " + status + "\r\ncontent-type: application/json\r\ncontent-length: " +
           QByteArray::number(body.size()) + "\r\nconnection: close\r\n\r\n" + body;
}
} // namespace

class TestConnect : public QObject {
    Q_OBJECT

    FakePlatform fakes;

    // The request goes through the reader and the router; gives the answer's bytes.
    static QByteArray answer(const QByteArray& request) {
        HttpRequestReader reader;
        if (reader.receive(request, true) != Step::Complete)
            return "(no answer)";
        const Answer a = HandBack::route(reader.head(), reader.body(), QLatin1String(state),
                                         HandBack::acceptedOrigin(Config::origin().toString()));
        return HandBack::response(a.status, a.body, a.corsOrigin);
    }
    // The same request handled by the flow, which ends on an accepted hand-back.
    static QByteArray handled(const QByteArray& request, const QString& expected) {
        HttpRequestReader reader;
        reader.receive(request, true);
        QByteArray sent;
        Connect::handle(
            reader.head(), reader.body(), [&](const QByteArray& r) { sent += r; }, expected);
        return sent;
    }
    // The listener reports itself ready from the event loop.
    QUrl openedURL() {
        (void)QTest::qWaitFor([&] { return !fakes.workspace->opened.isEmpty(); }, 1000);
        return fakes.workspace->opened.isEmpty() ? QUrl() : fakes.workspace->opened.takeFirst();
    }
    QStringList alertMessages() const {
        QStringList messages;
        for (const Alert& a : fakes.alerts->shown)
            messages.append(a.message);
        return messages;
    }

private Q_SLOTS:
    void init() {
        TestState::reset();
        fakes = FakePlatform::install();
        fakes.defaults->set(QStringLiteral("origin"), QString::fromLatin1(origin) + u'/');
    }
    void cleanupTestCase() { TestState::reset(); }

    void readsRequests_data() {
        QTest::addColumn<QList<QByteArray>>("reads");
        QTest::addColumn<QList<Step>>("steps");
        QTest::addColumn<QByteArray>("body");
        const QByteArray head = "POST / HTTP/1.1\r\nContent-Length: 4\r\n\r\n";
        const auto R = Step::ReadMore, D = Step::Drop, C = Step::Complete;
        QTest::newRow("whole") << QList<QByteArray>{head + "{}{}"} << QList{C}
                               << QByteArray("{}{}");
        QTest::newRow("segments") << QList<QByteArray>{"POST / HTTP/1.1\r\nContent-Le",
                                                       "ngth: 4\r\n\r", "\n{}", "{}"}
                                  << QList{R, R, R, C} << QByteArray("{}{}");
        QTest::newRow("more than declared is kept")
            << QList<QByteArray>{head + "{}{}xy"} << QList{C} << QByteArray("{}{}xy");
        QTest::newRow("early end of sending")
            << QList<QByteArray>{"POST / HTTP/1.1\r\nContent-Length: 100\r\n\r\n0123456789", ""}
            << QList{R, C} << QByteArray("0123456789");
        QTest::newRow("end before the head ends")
            << QList<QByteArray>{"POST / HTTP/1.1\r\n", ""} << QList{R, D} << QByteArray("");
        QTest::newRow("8192 bytes without terminator")
            << QList<QByteArray>{QByteArray(8000, 'a'), QByteArray(192, 'a')} << QList{R, D}
            << QByteArray("");
        QTest::newRow("8191 bytes without terminator")
            << QList<QByteArray>{QByteArray(8191, 'a')} << QList{R} << QByteArray("");
        QTest::newRow("body cut at 8192 bytes")
            << QList<QByteArray>{"POST / HTTP/1.1\r\ncontent-length: 9000\r\n\r\n",
                                 QByteArray(9000, 'b')}
            << QList{R, C} << QByteArray(8192 - 41, 'b');
        QTest::newRow("letters as content-length")
            << QList<QByteArray>{"POST / HTTP/1.1\r\nContent-Length: ten\r\n\r\n{"} << QList{C}
            << QByteArray("{");
        QTest::newRow("negative content-length")
            << QList<QByteArray>{"POST / HTTP/1.1\r\nContent-Length: -5\r\n\r\n"} << QList{C}
            << QByteArray("");
        QTest::newRow("content-length beyond 64 bits")
            << QList<QByteArray>{"POST / HTTP/1.1\r\nContent-Length: 9223372036854775808\r\n\r\n"}
            << QList{C} << QByteArray("");
        QTest::newRow("capitalised content-length")
            << QList<QByteArray>{"POST / HTTP/1.1\r\nCONTENT-LENGTH: 2\r\n\r\n{", "}"}
            << QList{R, C} << QByteArray("{}");
    }
    void readsRequests() {
        QFETCH(QList<QByteArray>, reads);
        QFETCH(QList<Step>, steps);
        QFETCH(QByteArray, body);
        HttpRequestReader reader;
        QList<Step> seen;
        for (const QByteArray& data : reads) {
            QVERIFY(reader.nextReadSize() > 0 && reader.nextReadSize() <= 8192);
            seen.append(reader.receive(data, data.isEmpty()));
        }
        QCOMPARE(seen, steps);
        QCOMPARE(reader.body(), body);
    }

    void findsHeaders_data() {
        QTest::addColumn<QString>("lines");
        QTest::addColumn<std::optional<QString>>("value");
        const auto row = [](const char* name, const char* lines, std::optional<QString> value) {
            QTest::newRow(name) << QString::fromUtf8(lines) << value;
        };
        row("plain", "Origin: https://a", u"https://a"_qs);
        row("capitalised name", "ORIGIN: https://a", u"https://a"_qs);
        row("value trimmed of spaces and tabs", "origin:\t x y \t", u"x y"_qs);
        row("space before the colon", "Origin : x", std::nullopt);
        row("leading colons skipped", "::Origin: x", u"x"_qs);
        row("colon then name", ":Origin", std::nullopt);
        row("bare colon", "Origin:", std::nullopt);
        row("only a space after the colon", "Origin: ", u""_qs);
        row("further colons kept", "Origin: http://a:1", u"http://a:1"_qs);
        row("first of two", "Origin: one\r\nOrigin: two", u"one"_qs);
        row("other names", "X-Origin: a\r\nOriginal: b", std::nullopt);
        row("empty lines dropped", "\r\n\r\nOrigin: x", u"x"_qs);
    }
    void findsHeaders() {
        QFETCH(QString, lines);
        QFETCH(std::optional<QString>, value);
        QCOMPARE(
            HttpRequestReader::header(u"origin", QStringLiteral("POST / HTTP/1.1\r\n") + lines),
            value);
    }

    void parsesIntegers_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<qint64>>("value");
        QTest::newRow("digits") << QStringLiteral("007") << std::optional<qint64>(7);
        QTest::newRow("plus") << QStringLiteral("+5") << std::optional<qint64>(5);
        QTest::newRow("minus") << QStringLiteral("-3") << std::optional<qint64>(-3);
        QTest::newRow("largest") << QStringLiteral("9223372036854775807")
                                 << std::optional<qint64>(std::numeric_limits<qint64>::max());
        QTest::newRow("smallest") << QStringLiteral("-9223372036854775808")
                                  << std::optional<qint64>(std::numeric_limits<qint64>::min());
        QTest::newRow("too large")
            << QStringLiteral("9223372036854775808") << std::optional<qint64>();
        for (const char* bad : {"", "+", "-", "1 2", "0x10", "1.0", "++1"})
            QTest::newRow(bad) << QString::fromLatin1(bad) << std::optional<qint64>();
        QTest::newRow("non-ASCII digit") << u"\u0663"_qs << std::optional<qint64>();
    }
    void parsesIntegers() {
        QFETCH(QString, text);
        QFETCH(std::optional<qint64>, value);
        QCOMPARE(HttpRequestReader::parseInteger(text), value);
    }

    void answers_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("response");
        const QByteArray preflight =
            "OPTIONS / HTTP/1.1\r\nAccess-Control-Request-Method: POST\r\n";
        QTest::newRow("pre-flight") << preflight + "Origin: https://pinlark.example\r\n\r\n"
                                    << cors("204 -", "");
        QTest::newRow("pre-flight, other origin")
            << preflight + "Origin: http://127.0.0.1:9\r\n\r\n"
            << plain("204 -", "");
        QTest::newRow("pre-flight, no origin") << preflight + "\r\n" << plain("204 -", "");
        QTest::newRow("lower-case options is not a pre-flight")
            << QByteArray("options / HTTP/1.1\r\nOrigin: http://x\r\n\r\n")
            << plain("403 -", R"({"error":"bad_origin"})");
        QTest::newRow("origin with trailing slash")
            << post(handBack(R"("state":"x")"), "Origin: https://pinlark.example/")
            << plain("403 -", R"({"error":"bad_origin"})");
        QTest::newRow("no origin") << post(handBack(R"("state":"x")"), "X: y")
                                   << plain("403 -", R"({"error":"bad_origin"})");
        QTest::newRow("origin in capitals, no state")
            << post(handBack(R"("x":1)"), "ORIGIN: https://pinlark.example")
            << cors("400 -", R"({"error":"bad_body"})");
        QTest::newRow("state not text")
            << post(handBack(R"("state":5)")) << cors("400 -", R"({"error":"bad_body"})");
        QTest::newRow("not an object") << post("[1]") << cors("400 -", R"({"error":"bad_body"})");
        QTest::newRow("not JSON") << post("{") << cors("400 -", R"({"error":"bad_body"})");
        QTest::newRow("wrong state")
            << post(handBack(R"("state":"abc")")) << cors("403 -", R"({"error":"bad_state"})");
        QTest::newRow("state one letter off")
            << post(handBack(R"("state":"abcdefghijklmnopqrstuvwxyzABCDEFGHIJ-_01235")"))
            << cors("403 -", R"({"error":"bad_state"})");
        QTest::newRow("accepted") << post(handBack("\"state\":\"" + QByteArray(state) + "\""))
                                  << cors("200 OK", R"({"ok":true})");
        QTest::newRow("accepted from a GET")
            << "GET / HTTP/1.1\r\nOrigin: https://pinlark.example\r\n\r\n" +
                   handBack("\"state\":\"" + QByteArray(state) + "\"")
            << cors("200 OK", R"({"ok":true})");
    }
    void answers() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, response);
        QCOMPARE(answer(request), response);
    }

    void readsTheSecureFlag_data() {
        QTest::addColumn<QByteArray>("member");
        QTest::addColumn<bool>("secure");
        QTest::newRow("absent") << QByteArray() << true;
        QTest::newRow("false") << QByteArray(R"("secure":false,)") << false;
        QTest::newRow("true") << QByteArray(R"("secure":true,)") << true;
        QTest::newRow("0") << QByteArray(R"("secure":0,)") << false;
        QTest::newRow("1") << QByteArray(R"("secure":1,)") << true;
        QTest::newRow("text") << QByteArray(R"("secure":"false",)") << true;
        QTest::newRow("null") << QByteArray(R"("secure":null,)") << true;
    }
    void readsTheSecureFlag() {
        QFETCH(QByteArray, member);
        QFETCH(bool, secure);
        HttpRequestReader reader;
        reader.receive(post(handBack(member + "\"state\":\"" + state + "\"")), true);
        const Answer answer = HandBack::route(reader.head(), reader.body(), QLatin1String(state),
                                              QLatin1String(origin));
        QCOMPARE(answer.session,
                 (HandBack::Session{u"tok"_qs, u"authjs.session-token"_qs, secure}));
    }

    void beginTwiceOpensOneBrowser() {
        Connect::begin();
        Connect::begin();
        QVERIFY(Connect::isRunning());
        const QUrl url = openedURL();
        QCOMPARE(url.toString(QUrl::RemoveQuery),
                 QStringLiteral("https://pinlark.example/connect/mac"));
        const QList items = QUrlQuery(url).queryItems();
        QCOMPARE(items.size(), 2);
        QCOMPARE(items[0].first, QStringLiteral("port"));
        QCOMPARE(items[0].second.toUShort(), Connect::s_listener->serverPort());
        QCOMPARE(items[1].first, QStringLiteral("state"));
        QVERIFY(QRegularExpression(QStringLiteral("^[A-Za-z0-9_-]{43}$"))
                    .match(items[1].second)
                    .hasMatch());
        QCoreApplication::processEvents();
        QCOMPARE(fakes.workspace->opened.size(), 0);
    }

    void validHandBackEndsTheFlowForGood() {
        Connect::begin();
        const QString first = QUrlQuery(openedURL()).queryItemValue(QStringLiteral("state"));
        fakes.clock->advance(std::chrono::seconds(100));
        // Refused requests leave the flow running.
        QCOMPARE(handled(post(handBack(R"("state":"nope")")), first).left(12), "HTTP/1.1 403");
        QCOMPARE(handled(post("{}"), first).left(12), "HTTP/1.1 400");
        QVERIFY(Connect::isRunning());
        // An empty cookie name is accepted by the exchange and refused by the adoption.
        QCOMPARE(handled(post("{\"token\":\"t\",\"cookieName\":\"\",\"state\":\"" + first.toUtf8() +
                              "\"}"),
                         first)
                     .left(12),
                 "HTTP/1.1 200");
        QVERIFY(!Connect::isRunning());
        QVERIFY(!Connect::s_listener);
        // A new flow is not ended by the first one's time-out.
        Connect::begin();
        const QString second = QUrlQuery(openedURL()).queryItemValue(QStringLiteral("state"));
        QVERIFY(second != first);
        fakes.clock->advance(std::chrono::seconds(250));
        QVERIFY(Connect::isRunning());
        QCOMPARE(alertMessages(), QStringList{u"Couldn't save the sign-in"_qs});
        fakes.clock->advance(std::chrono::seconds(50));
        QVERIFY(!Connect::isRunning());
        QCOMPARE(
            fakes.alerts->shown.last(),
            (Alert{
                u"Sign-in timed out"_qs,
                u"The link is good for five minutes. Choose Sign In again to get a fresh one."_qs,
                {u"OK"_qs}}));
    }

    void afterTimeOutANewBeginGetsNewPortAndState() {
        Connect::begin();
        const QUrl first = openedURL();
        fakes.clock->advance(Connect::timeout - std::chrono::seconds(1));
        QVERIFY(Connect::isRunning());
        fakes.clock->advance(std::chrono::seconds(1));
        QVERIFY(!Connect::isRunning());
        QCOMPARE(alertMessages(), QStringList{u"Sign-in timed out"_qs});
        Connect::begin();
        const QUrl second = openedURL();
        for (const char* item : {"port", "state"})
            QVERIFY(QUrlQuery(first).queryItemValue(QLatin1String(item)) !=
                    QUrlQuery(second).queryItemValue(QLatin1String(item)));
    }

    void failingRandomSourceStartsNothing() {
        Connect::s_randomSource = [](std::span<std::byte>) { return false; };
        Connect::begin();
        QVERIFY(!Connect::isRunning());
        QVERIFY(!Connect::s_listener);
        const Alert expected{u"Couldn't start the sign-in"_qs,
                             u"The system's source of random numbers failed."_qs,
                             {u"OK"_qs}};
        QCOMPARE(fakes.alerts->shown, QList{expected});
    }

    void makesTheSessionCookie_data() {
        QTest::addColumn<QString>("originURL");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("token");
        QTest::addColumn<bool>("secure");
        QTest::addColumn<QString>("domain"); // empty: refused
        const auto row = [](const char* tag, const char* o, const char* name, const char* token,
                            bool secure, const char* domain) {
            QTest::newRow(tag) << QString::fromUtf8(o) << QString::fromUtf8(name)
                               << QString::fromUtf8(token) << secure << QString::fromUtf8(domain);
        };
        row("www. host", "https://www.service.example", "__Secure-authjs.session-token", "t", true,
            ".service.example");
        row("plain host", "https://service.example", "authjs.session-token", "t", true,
            ".service.example");
        row("localhost with a port", "http://localhost:3000", "authjs.session-token", "t", false,
            "localhost");
        row("host beginning with localhost", "http://localhost.test", "n", "t", false,
            "localhost.test");
        row("host without a dot", "http://intranet", "n", "t", true, "intranet");
        row("quoted value", "https://a.example", "n", "\"t\"", true, ".a.example");
        row("empty value", "https://a.example", "n", "", true, ".a.example");
        row("empty name", "https://a.example", "", "t", true, "");
        for (const char* bad : {"a b", "a;b", "a,b", "a\"b", "a=b", "a\tb",
                                "a\x01"
                                "b"}) {
            row(("name " + QByteArray(bad).toPercentEncoding()).constData(), "https://a.example",
                bad, "t", true, "");
        }
        for (const char* bad : {"a b", "a;b", "a,b", "a\"b", "\"ab", "a\nb",
                                "a\x7f"
                                "b"}) {
            row(("value " + QByteArray(bad).toPercentEncoding()).constData(), "https://a.example",
                "n", bad, true, "");
        }
    }
    void makesTheSessionCookie() {
        QFETCH(QString, originURL);
        QFETCH(QString, name);
        QFETCH(QString, token);
        QFETCH(bool, secure);
        QFETCH(QString, domain);
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const auto cookie =
            Connect::sessionCookie(token, name, secure, QUrl(originURL).host(), now);
        QCOMPARE(cookie.has_value(), !domain.isEmpty());
        if (!cookie)
            return;
        QCOMPARE(cookie->name(), name.toUtf8());
        QCOMPARE(cookie->value(), token.toUtf8());
        QCOMPARE(cookie->domain(), domain);
        QCOMPARE(cookie->path(), QStringLiteral("/"));
        QCOMPARE(cookie->isSecure(), secure);
        QVERIFY(cookie->isHttpOnly());
        QCOMPARE(cookie->expirationDate(), now.addDays(30));
    }

    void refusedCookieLeavesStoreAndWindowAlone() {
        runTask(Connect::adopt(u"t"_qs, u"bad name"_qs, true));
        QVERIFY(fakes.cookieStore->cookies.isEmpty());
        QCOMPARE(fakes.activationPolicy->activations, 0);
        const Alert expected{u"Couldn't save the sign-in"_qs,
                             u"The session couldn't be stored. Try again."_qs,
                             {u"OK"_qs}};
        QCOMPARE(fakes.alerts->shown, QList{expected});
    }

    void browserCommands_data() {
        QTest::addColumn<QString>("variable");
        QTest::addColumn<QList<QStringList>>("commands");
        const QString u = QStringLiteral("http://a/?x=1&y=2");
        const QStringList xdg{u"xdg-open"_qs, u};
        using Commands = QList<QStringList>;
        QTest::newRow("unset") << QString() << Commands{xdg};
        QTest::newRow("one program") << u"firefox"_qs << Commands{{u"firefox"_qs, u}, xdg};
        QTest::newRow("arguments and %s, then another")
            << u"node \"my driver.js\" --url=%s::lynx"_qs
            << Commands{{u"node"_qs, u"my driver.js"_qs, QStringLiteral("--url=") + u},
                        {u"lynx"_qs, u},
                        xdg};
    }
    void browserCommands() {
        QFETCH(QString, variable);
        QFETCH(QList<QStringList>, commands);
        QCOMPARE(BrowserWorkspace::commands(variable, QStringLiteral("http://a/?x=1&y=2")),
                 commands);
    }
};

} // namespace pinlark

QTEST_MAIN(pinlark::TestConnect)
#include "tst_connect.moc"
