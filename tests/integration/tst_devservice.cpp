#include "Curl.h"
#include "DevService.h"
#include "TestSupport.h"

#include <QJsonArray>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

using namespace pinlark;

class TestDevService : public QObject {
    Q_OBJECT

    std::unique_ptr<DevService> service;
    QString token;

    QString url(const QString& path) const { return service->url(path).toString(); }
    CurlAnswer save(const QString& link) { return save(link, token); }
    CurlAnswer save(const QString& link, const QString& session) {
        return curl({u"-H"_s, u"Authorization: Bearer "_s + session, u"-H"_s,
                     u"Content-Type: application/json"_s, u"-d"_s, u"{\"url\":\"%1\"}"_s.arg(link),
                     url(u"api/saves"_s)});
    }
    QJsonArray saves(const QString& session) {
        return curl({u"-H"_s, u"Authorization: Bearer "_s + session, url(u"api/saves"_s)})
            .json()["saves"_L1]
            .toArray();
    }

private Q_SLOTS:
    void init() {
        service = std::make_unique<DevService>();
        QVERIFY(service->isRunning());
        token = service->signIn();
        QCOMPARE(token.size(), 43);
    }
    void cleanup() { service.reset(); }

    // What the client meets only when something is wrong: the status and error code, how many
    // requests were recorded and how many saves are stored afterwards. Requests whose size the
    // service can't bound before reading them are refused unread and unrecorded.
    void refusesBadRequests_data() {
        QTest::addColumn<QStringList>("arguments"); // to curl; the last one a path
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("answer");
        const QStringList post =
            u"-H|Authorization: Bearer {token}|-H|Content-Type: "
            "application/json|-H|Expect:|--data-binary|@-|api/saves"_s.split(u'|');
        const auto save = [&](const char* name, const QByteArray& body, const QString& answer) {
            QTest::newRow(name) << post << body << answer;
        };
        save("not JSON", "{\"url\":", u"400 bad_json, 1 recorded, 0 stored"_s);
        save("ftp", "{\"url\":\"ftp://example.test/a\"}", u"400 bad_url, 1 recorded, 0 stored"_s);
        QByteArray big(64 * 1024 + 1, ' ');
        big.replace(0, 31, "{\"url\":\"https://example.test/\"}");
        save("over 64 KiB", big, u"413 too_large, 0 recorded, 0 stored"_s);
        save("exactly 64 KiB", big.left(64 * 1024), u"201 , 1 recorded, 1 stored"_s);
        QTest::newRow("unknown API path signed out")
            << QStringList{"-X", "POST", "-d", "{}", "api/other"} << QByteArray()
            << u"401 unauthenticated, 1 recorded, 0 stored"_s;
        QTest::newRow("chunked") << QStringList{"-H", "Transfer-Encoding: chunked", "--data-binary",
                                                "{}", "api/saves"}
                                 << QByteArray() << u"413 too_large, 0 recorded, 0 stored"_s;
        QTest::newRow("a body without a length")
            << QStringList{"-X", "POST", "api/saves"} << QByteArray()
            << u"411 length_required, 0 recorded, 0 stored"_s;
        QStringList bigHead;
        for (int i = 0; i < 12; ++i)
            bigHead << u"-H"_s << u"X-Filler-%1: %2"_s.arg(i).arg(QString(8000, u'x'));
        QTest::newRow("a head over 64 KiB") << bigHead + QStringList{"api/saves"} << QByteArray()
                                            << u"400 bad_request, 0 recorded, 0 stored"_s;
    }
    void refusesBadRequests() {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, body);
        QFETCH(QString, answer);
        arguments.replaceInStrings(u"{token}"_s, token);
        arguments.last() = url(arguments.last());
        service->clearRequests();
        const CurlAnswer a = curl(arguments, body);
        const qsizetype recorded = service->requests().size();
        const CurlAnswer list =
            curl({u"-H"_s, u"Authorization: Bearer "_s + token, url(u"api/saves"_s)});
        QCOMPARE(list.status, 200);
        QCOMPARE(u"%1 %2, %3 recorded, %4 stored"_s.arg(a.status).arg(a.error()).arg(recorded).arg(
                     list.json()["saves"_L1].toArray().size()),
                 answer);
        QVERIFY(a.status < 400 || !a.json()["message"_L1].toString().isEmpty());
    }

    // Restarted on the same data folder, it knows the accounts (however their address is
    // spelt), sessions and saves as they were; a save still pending when it stopped is filed
    // once it falls due, whether anyone asks or not. "Already saved" is each account's own.
    void keepsWhatItHoldsAcrossRestarts() {
        QTemporaryDir home;
        const QString data = home.filePath(u"service"_s);
        const QStringList arguments{u"--data"_s, data, u"--settle-after"_s, u"1000"_s,
                                    u"--settle-after-ms"_s, u"1500"_s};
        service = std::make_unique<DevService>(arguments);
        token = service->signIn(u"Keeper@example.test"_s);
        const QString link = u"https://example.test/pending"_s;
        QCOMPARE(save(link).status, 201);
        service.reset();
        const auto status = [&] {
            QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"peek"_s);
            db.setDatabaseName(data + u"/pinlark-devservice.sqlite"_s);
            db.setConnectOptions(u"QSQLITE_OPEN_READONLY"_s);
            QString found;
            if (db.open()) {
                QSqlQuery query(u"SELECT status FROM saves"_s, db);
                if (query.next())
                    found = query.value(0).toString();
            }
            db = {};
            QSqlDatabase::removeDatabase(u"peek"_s);
            return found;
        };
        const bool pending = status() == u"queued"_s; // else it fell due before the stop
        service = std::make_unique<DevService>(arguments);
        QTRY_COMPARE_WITH_TIMEOUT(status(), u"done"_s, 5000);
        QCOMPARE(saves(service->signIn(u"keeper@EXAMPLE.test"_s)), saves(token));

        const QString other = service->signIn(u"b@example.test"_s);
        const CurlAnswer first = save(link, other), again = save(link, other), mine = save(link);
        QCOMPARE(first.status, 201);
        QVERIFY(!first.json().contains("existing"_L1));
        QCOMPARE(again.json()["existing"_L1], true);
        QCOMPARE(mine.json()["existing"_L1], true);
        QCOMPARE(saves(other).size(), 1);
        QCOMPARE(saves(token).size(), 1);
        if (!pending)
            QSKIP("the save fell due before the service had stopped");
    }

    // A file that is not its database stops it with one line naming the file, and stays as it was.
    void refusesADatabaseNotItsOwn_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("statements"); // that make it, when there are no bytes
        QTest::newRow("text") << QByteArray("Not a database.\n").repeated(300) << QStringList();
        QTest::newRow("an SQLite header, then noise")
            << QByteArray("SQLite format 3\0", 16) + QByteArray(4080, '\x5a') << QStringList();
        QTest::newRow("from a newer schema")
            << QByteArray() << QStringList{"CREATE TABLE saves (id)", "PRAGMA user_version = 2"};
        QTest::newRow("another program's")
            << QByteArray() << QStringList{"CREATE TABLE notes (text)"};
    }
    void refusesADatabaseNotItsOwn() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, statements);
        QTemporaryDir folder;
        const QString file = folder.filePath(u"pinlark-devservice.sqlite"_s);
        if (statements.isEmpty()) {
            QVERIFY(writeFile(file, bytes));
        } else {
            QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s);
            db.setDatabaseName(file);
            QVERIFY(db.open());
            for (const QString& statement : statements)
                QVERIFY(QSqlQuery(db).exec(statement));
            db = {};
            QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
            bytes = readFile(file);
        }
        QProcess process;
        process.start(QStringLiteral(PINLARK_DEVSERVICE_PATH),
                      {u"--port"_s, u"0"_s, u"--data"_s, folder.path()});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 1);
        const QString problem = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(problem.endsWith(u"; it is left as it is\n"_s) && problem.count(u'\n') == 1 &&
                     problem.contains(file),
                 qPrintable(problem));
        QCOMPARE(readFile(file), bytes);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList{file.section(u'/', -1)});
    }

    // A save settles on the service's clock, read or not, with the status its link earns; the
    // feed and the one-save answer agree.
    void filesSavesOnItsOwnClock_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("statuses"); // in the feed, then in the one-save answer
        const QStringList atOnce{"--settle-after-ms", "0", "--settle-after", "1000"};
        QTest::newRow("due at once") << atOnce << u"https://example.test/a"_s << u"done done"_s;
        QTest::newRow("due at once, failing")
            << atOnce << u"https://nowhere.invalid/a"_s << u"error error"_s;
        QTest::newRow("due in a day (the tests' default)")
            << QStringList() << u"https://example.test/a"_s << u"queued queued"_s;
    }
    void filesSavesOnItsOwnClock() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, link);
        QFETCH(QString, statuses);
        service = std::make_unique<DevService>(arguments);
        token = service->signIn();
        const QString id = save(link).json()["id"_L1].toString();
        const QString listed = saves(token).first()["status"_L1].toString();
        const CurlAnswer one =
            curl({u"-H"_s, u"Authorization: Bearer "_s + token, url(u"api/saves/"_s + id)});
        QCOMPARE(listed + u' ' + one.json()["status"_L1].toString(), statuses);
    }

    // The saves page asks for the list: it comes only when it changed; signed out, a refusal.
    void savesPageAsksForChanges() {
        const auto list = [&](const QString& since, const QString& session) {
            return curl({u"-b"_s, u"authjs.session-token="_s + session,
                         service->origin().toString() + u"/saves/list?since="_s + since});
        };
        const QString stamp = list({}, token).json()["stamp"_L1].toString();
        QCOMPARE(list(stamp, token).json(), QJsonObject({{u"stamp"_s, stamp}}));
        const QString id = save(u"https://example.test/new"_s).json()["id"_L1].toString();
        const QJsonObject changed = list(stamp, token).json();
        QVERIFY(changed["stamp"_L1] != stamp);
        QVERIFY(changed["html"_L1].toString().contains(u"data-id=\""_s + id));
        QCOMPARE(list(stamp, u"unknown"_s).status, 401);
    }

    // What the service records, sessions included, is for the machine it runs on only.
    void servesDevRoutesOnLoopbackOnly() {
        service = std::make_unique<DevService>(QStringList{u"--host"_s, u"0.0.0.0"_s});
        QVERIFY(service->isRunning());
        QCOMPARE(curl({url(u"signin"_s)}).status, 200);
        const CurlAnswer log = curl({url(u"dev/requests"_s)});
        QCOMPARE(log.status, 404);
        QVERIFY(!log.body.contains("signin"));
    }
};

QTEST_GUILESS_MAIN(TestDevService)
#include "tst_devservice.moc"
