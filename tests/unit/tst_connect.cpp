#include "session/Connect.h"
#include "session/HttpRequestReader.h"
#include "session/LoopbackListener.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QRegularExpression>
#include <QUrlQuery>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace pinlark {

namespace {
const QByteArray state = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJ-_01234";
const QByteArray origin = "Origin: https://pinlark.example\r\n";

QByteArray post(const QByteArray& headers, const QByteArray& body) {
    return "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "\r\n" + body;
}
// An empty cookie name passes the exchange and stops the adoption before the library window.
QByteArray handBack(const QByteArray& withState = state, const QByteArray& name = {}) {
    return "{\"token\":\"t\",\"cookieName\":\"" + name + "\",\"state\":\"" + withState + "\"}";
}
// An answer in short: its status code, "cors" when it lets the service's page read it, its body.
QByteArray summary(const QByteArray& answer) {
    const qsizetype end = answer.indexOf("\r\n\r\n");
    const QByteArray head = answer.left(end).toLower();
    const bool cors = head.contains("\r\naccess-control-allow-origin: https://pinlark.example\r\n") &&
                      head.contains("\r\naccess-control-allow-private-network: true\r\n");
    return answer.mid(9, 3) + (cors ? " cors " : " ") + answer.mid(end + 4);
}
} // namespace

class TestConnect : public QObject {
    Q_OBJECT

    FakePlatform fakes;

    // Feeds the reads to a reader (an empty read: the peer has finished sending) and routes
    // the request once complete. Gives the answer, or "" when the connection is dropped, or
    // "(reading)" when more is awaited.
    static QByteArray exchange(const QList<QByteArray>& reads, const QString& expected = state) {
        HttpRequestReader reader;
        for (const QByteArray& data : reads) {
            const auto step = reader.receive(data, data.isEmpty());
            if (step == HttpRequestReader::Step::Drop)
                return "";
            if (step == HttpRequestReader::Step::Complete) {
                QByteArray sent;
                const auto send = [&](const QByteArray& r) { sent += r; };
                Connect::handle(reader.head(), reader.body(), send, expected);
                return sent;
            }
        }
        return "(reading)";
    }
    QUrlQuery opened() {
        (void)QTest::qWaitFor([&] { return !fakes.workspace->opened.isEmpty(); }, 1000);
        return fakes.workspace->opened.isEmpty() ? QUrlQuery()
                                                 : QUrlQuery(fakes.workspace->opened.takeFirst());
    }

private Q_SLOTS:
    void init() {
        TestState::reset();
        fakes = FakePlatform::install();
        fakes.defaults->set(QStringLiteral("origin"), "https://pinlark.example/");
    }
    void cleanupTestCase() { TestState::reset(); }

    // Each exchange as "status [cors] body"; "" for a dropped connection.
    void exchange_data() {
        QTest::addColumn<QList<QByteArray>>("reads");
        QTest::addColumn<QByteArray>("response");
        const QByteArray badBody = R"(400 cors {"error":"bad_body"})";
        const QByteArray badOrigin = R"(403 {"error":"bad_origin"})";
        const QByteArray ok = R"(200 cors {"ok":true})";
        const QByteArray valid = handBack();
        const auto row = [](const char* name, QList<QByteArray> reads, const QByteArray& r) {
            QTest::newRow(name) << reads << r;
        };
        row("pre-flight", {"OPTIONS / HTTP/1.1\r\n" + origin + "\r\n"}, "204 cors ");
        row("origin with trailing slash", {post("Origin: https://pinlark.example/\r\n", valid)},
            badOrigin);
        row("no origin", {post("", valid)}, badOrigin);
        row("not JSON", {post(origin, "{")}, badBody);
        // The state compared whole: one byte changed, none, a prefix, one byte more.
        for (const QByteArray& wrong :
             {state.left(42) + "5", QByteArray(), state.left(42), state + "5"})
            row(("state " + wrong).constData(), {post(origin, handBack(wrong))},
                R"(403 cors {"error":"bad_state"})");
        row("accepted", {post(origin, valid)}, ok);
        // Reading.
        const QByteArray length = "content-length: " + QByteArray::number(valid.size()) + "\r\n";
        row("body in segments", {post(origin + length, valid.left(10)), valid.mid(10)}, ok);
        row("peer ends after 10 of 100 body bytes",
            {post(origin + "Content-Length: 100\r\n", valid.left(10)), ""}, badBody);
        row("content-length beyond 64 bits",
            {post(origin + "Content-Length: 9223372036854775808\r\n", "{")}, badBody);
        row("body cut at 8192 bytes",
            {post(origin + "Content-Length: 9000\r\n", QByteArray(9000, ' ') + valid)}, badBody);
        row("8192 bytes without the head's end", {QByteArray(8000, 'a'), QByteArray(192, 'a')}, "");
    }
    void exchange() {
        QFETCH(QList<QByteArray>, reads);
        QFETCH(QByteArray, response);
        const QByteArray answer = exchange(reads);
        QCOMPARE(answer.isEmpty() ? answer : summary(answer), response);
    }

    void runsOneFlowAtATime() {
        Connect::begin();
        Connect::begin();
        QUrlQuery query = opened();
        QCOMPARE(fakes.workspace->opened.size(), 0);
        const QString first = query.queryItemValue(u"state"_qs);
        QVERIFY(QRegularExpression(u"^[A-Za-z0-9_-]{43}$"_qs).match(first).hasMatch());
        QCOMPARE(query.query(),
                 u"port=%1&state=%2"_s.arg(Connect::s_listener->serverPort()).arg(first));

        // Refused requests leave the flow running; a valid one ends it.
        fakes.clock->advance(std::chrono::seconds(100));
        QCOMPARE(exchange({post(origin, handBack("nope"))}, first).left(12), "HTTP/1.1 403");
        QVERIFY(Connect::isRunning());
        QCOMPARE(exchange({post(origin, handBack(first.toLatin1()))}, first).left(12),
                 "HTTP/1.1 200");
        QVERIFY(!Connect::isRunning() && !Connect::s_listener);

        // The ended flow's time-out does not end the next one, whose own time-out does.
        Connect::begin();
        query = opened();
        QVERIFY(!query.isEmpty() && query.queryItemValue(u"state"_qs) != first);
        fakes.clock->advance(Connect::timeout - std::chrono::seconds(1));
        QVERIFY(Connect::isRunning());
        fakes.clock->advance(std::chrono::seconds(1));
        QVERIFY(!Connect::isRunning());
        QCOMPARE(fakes.alerts->shown.size(), 2);
        QCOMPARE(fakes.alerts->shown[1].message, u"Sign-in timed out"_qs);
        Connect::begin();
        const QString port = opened().queryItemValue(u"port"_qs);
        QVERIFY(!port.isEmpty() && port != query.queryItemValue(u"port"_qs));
    }

    // Without random numbers nothing starts; without a browser to open, the flow ends at once.
    void failureToStartEndsTheFlow() {
        for (const bool browserFails : {false, true}) {
            TestState::reset();
            fakes.alerts->shown.clear();
            fakes.workspace->starts = !browserFails;
            if (!browserFails)
                Connect::s_randomSource = [](std::span<std::byte>) { return false; };
            Connect::begin();
            QTRY_VERIFY(!Connect::isRunning() && !Connect::s_listener);
            QCOMPARE(fakes.alerts->shown.size(), 1);
            QCOMPARE(fakes.alerts->shown[0].message, u"Couldn't start the sign-in"_qs);
        }
    }

    // The cookie as "name value domain path flags", for a host and whether it is secure;
    // none for what a cookie cannot carry, and then nothing is stored.
    void makesTheSessionCookie() {
        const std::tuple<const char*, bool, const char*> cases[] = {
            {"www.service.example", true, "__Secure-a.b \"t\" .service.example / secure"},
            {"localhost", false, "__Secure-a.b \"t\" localhost / "},
            {"intranet", true, "__Secure-a.b \"t\" intranet / secure"}};
        const QDateTime now = QDateTime::currentDateTimeUtc();
        for (const auto& [host, secure, expected] : cases) {
            const auto c =
                Connect::sessionCookie(u"\"t\""_qs, u"__Secure-a.b"_qs, secure, host, now);
            QVERIFY(c && c->isHttpOnly() && c->expirationDate() == now.addSecs(2592000));
            QCOMPARE(QStringList({c->name(), c->value(), c->domain(), c->path(),
                                  c->isSecure() ? "secure" : ""})
                         .join(u' '),
                     QString::fromLatin1(expected));
        }
        for (const char* name : {"", "a b", "a;b", "a,b", "a\"b", "a=b", "a\tb", "a\x7f"})
            QVERIFY2(!Connect::sessionCookie(u"t"_qs, QString::fromLatin1(name), true, u"a"_qs, {}),
                     name);
        for (const char* value : {"a b", "a;b", "a,b", "a\"b", "\"ab", "a\nb"})
            QVERIFY2(
                !Connect::sessionCookie(QString::fromLatin1(value), u"n"_qs, true, u"a"_qs, {}),
                value);
        for (const char* value : {"", "\"\""}) // nothing, or nothing in quotes
            QVERIFY2(Connect::sessionCookie(QString::fromLatin1(value), u"n"_qs, true, u"a"_qs, {}),
                     value);

        runTask(Connect::adopt(u"t"_qs, u"bad name"_qs, true));
        QVERIFY(fakes.cookieStore->cookies.isEmpty());
        QCOMPARE(fakes.activationPolicy->activations, 0);
        QCOMPARE(fakes.alerts->shown.size(), 1);
        QCOMPARE(fakes.alerts->shown[0].message, u"Couldn't save the sign-in"_qs);
    }

    // The request reader's fuzzing corpus, through the fuzzer's own checks (a broken one aborts).
    void fuzzCorpus_data() {
        QTest::addColumn<QByteArray>("input");
        const QDir corpus(QStringLiteral(PINLARK_TESTS_DIR "/fuzz/corpus"));
        for (const QString& name : corpus.entryList(QDir::Files))
            QTest::newRow(qPrintable(name)) << readFile(corpus.filePath(name));
        QVERIFY(!corpus.isEmpty());
    }
    void fuzzCorpus() {
        QFETCH(QByteArray, input);
        QVERIFY(!input.isEmpty());
        QCOMPARE(LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.constData()),
                                        std::size_t(input.size())),
                 0);
    }
};

} // namespace pinlark

QTEST_MAIN(pinlark::TestConnect)
#include "tst_connect.moc"
