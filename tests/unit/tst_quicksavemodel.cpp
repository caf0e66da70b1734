#include "TestSupport.h"
#include "quicksave/Outbox.h"
#include "quicksave/QuickSaveModel.h"
#include "service/APIError.h"
#include "service/DecodingError.h"

#include <QSignalSpy>

using namespace std::chrono_literals;

namespace pinlark {

namespace {

const QString link = u"https://example.test/a"_s;
const QString offline = u"Can't reach Pinlark. Check your connection."_s;

SaveRow row(const QString& status) {
    return SaveRow{u"s1"_s, link, {}, status, {}, {}, {}, {}};
}

SaveOutcome unreachable(const QString&) {
    throw APIError(u"offline"_s, offline);
}

// A service whose answers the test scripts. Calls complete at once unless held; a held call
// waits until its task is cancelled, which fails it as "offline", as the real client does.
class ScriptedClient : public SavesClient {
public:
    QCoro::Task<SaveOutcome> save(QString url, CancelToken cancel) override {
        saved.append(url);
        co_await hold(holdSave, cancel);
        co_return onSave(url);
    }
    QCoro::Task<QList<SaveRow>> recent(int limit, CancelToken cancel) override {
        recentLimits.append(limit);
        co_await hold(false, cancel);
        co_return onRecent();
    }
    QCoro::Task<SaveRow> get(QString id, CancelToken cancel) override {
        gets.append(id);
        getTimes.append(Platform::clock().now());
        co_await hold(holdGet, cancel);
        co_return onGet(int(gets.size()));
    }

    std::function<SaveOutcome(const QString&)> onSave = [](const QString&) {
        return SaveOutcome{u"s1"_s, false};
    };
    std::function<QList<SaveRow>()> onRecent = [] { return QList<SaveRow>{}; };
    std::function<SaveRow(int)> onGet = [](int) { return row(u"processing"_s); }; // 1-based
    bool holdSave = false;
    bool holdGet = false;

    QStringList saved;
    QList<int> recentLimits;
    QStringList gets;
    QList<Clock::TimePoint> getTimes;

private:
    static QCoro::Task<> hold(bool wait, CancelToken cancel) {
        if (!wait)
            co_return;
        Completion<> done;
        auto subscription = cancel.onCancel([done]() mutable { done(); });
        co_await done;
        throw APIError(u"offline"_s, offline);
    }
};

} // namespace

class TestQuickSaveModel : public QObject {
    Q_OBJECT

    FakePlatform fakes;
    QTemporaryDir dir;
    const QString path = dir.filePath(u"outbox.json"_s);
    std::shared_ptr<ScriptedClient> client;
    std::unique_ptr<Outbox> outbox;
    std::unique_ptr<QuickSaveModel> model;

    // An outbox file of `count` links of `length` characters.
    void writeOutbox(int count, int length) {
        const QByteArray link = "{\"url\":\"" +
                                QByteArray("https://e.test/").leftJustified(length, 'a') +
                                "\",\"queued\":\"2024-05-01T10:00:00.000Z\"}";
        QVERIFY(writeFile(path, "{\"links\":[" + (link + ',').repeated(count - 1) + link + "]}"));
    }
    void restart() {
        model.reset();
        outbox = std::make_unique<Outbox>(path, client);
        model = std::make_unique<QuickSaveModel>(client, outbox.get());
    }

private Q_SLOTS:
    void init() {
        TestState::reset();
        fakes = FakePlatform::install();
        QFile::remove(path);
        client = std::make_shared<ScriptedClient>();
        restart();
    }
    void cleanup() {
        model.reset();
        outbox.reset();
        client.reset();
    }

    void prefillsFromTheClipboard_data() {
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<QString>("expected");
        const auto refused = [](const char* name, const QString& text) {
            QTest::newRow(name) << text << QString();
        };
        QTest::newRow("trimmed") << u"  https://example.test/a \n"_s << link;
        refused("no scheme", u"example.test/a"_s);
        refused("not a URL", u"https://exa mple.test"_s);
        // U+1F600 is two UTF-16 code units and one character: the limit counts characters.
        const QString head = u"https://example.test/"_s;
        const QString at2047 = head + u"\U0001F600"_s.repeated(2047 - int(head.size()));
        QTest::newRow("2047 characters") << at2047 << at2047;
        refused("2048 characters", at2047 + u"a"_s);
        refused("one character longer than the field", head + u"a"_s + QString(40000, u'\u0301'));
    }
    void prefillsFromTheClipboard() {
        QFETCH(QString, clipboard);
        QFETCH(QString, expected);
        fakes.pasteboard->text = clipboard;
        model->opened();
        QCOMPARE(model->url(), expected);
    }

    // The clipboard fills only an empty field in the idle phase (not after a failed save, nor
    // while saving); the refresh runs regardless.
    void noPrefill_data() {
        QTest::addColumn<QString>("error"); // the save's failure; "hold": still saving
        QTest::newRow("failed") << u"bad_url"_s;
        QTest::newRow("saving") << u"hold"_s;
    }
    void noPrefill() {
        QFETCH(QString, error);
        client->holdSave = error == "hold"_L1;
        client->onSave = [error](const QString&) -> SaveOutcome { throw APIError(error, {}); };
        model->setUrl(link);
        model->save();
        model->setUrl({}); // cleared by the save, or by the user after a failure
        fakes.pasteboard->text = u"https://other.test/"_s;
        QSignalSpy urlChanges(model.get(), &QuickSaveModel::urlChanged);
        model->opened();
        QCOMPARE(urlChanges.count(), 0);
        QCOMPARE(client->recentLimits, QList<int>{7});
    }

    // The trimmed text goes out once, however often the user asks; spaces only, never.
    void savesTheTrimmedTextOnce() {
        model->setUrl(u" \n "_s);
        model->save();
        QCOMPARE(model->phase(), Phase(phase::Idle{}));
        client->holdSave = true;
        model->setUrl(u"  "_s + link + u"\n"_s);
        model->save();
        model->save();
        QCOMPARE(client->saved, QStringList{link});
        QCOMPARE(model->phase(), Phase(phase::Saving{}));
    }

    // A link handed over (or typed) while the save was in flight is not erased when it ends.
    void keepsAFieldChangedDuringTheSave() {
        const QString other = u"https://other.test/"_s;
        client->onSave = [&](const QString&) {
            model->setUrl(other);
            return SaveOutcome{u"s1"_s, false};
        };
        model->setUrl(link);
        model->save();
        QCOMPARE(model->url(), other);
    }

    // At once the provisional row, the field cleared, the first refresh; then a poll every
    // 1.5 s until the save settles or 24 polls have passed, and a last refresh.
    void polling_data() {
        QTest::addColumn<int>("settlesAt"); // the poll that answers "done" or "error"; 0: never
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("failing"); // how many first polls fail
        QTest::newRow("done on the third poll") << 3 << u"done"_s << 0;
        QTest::newRow("failed polls are skipped") << 3 << u"done"_s << 2;
        QTest::newRow("never settling") << 0 << u"processing"_s << 0;
    }
    void polling() {
        QFETCH(int, settlesAt);
        QFETCH(QString, status);
        QFETCH(int, failing);
        client->onSave = [](const QString&) { return SaveOutcome{u"s1"_s, true}; };
        client->onGet = [=](int n) {
            if (n <= failing)
                throw APIError(u"http_500"_s, u"Something went wrong. Try again."_s);
            return row(settlesAt && n >= settlesAt ? status : u"processing"_s);
        };
        model->setUrl(link);
        model->save();
        QCOMPARE(model->phase(), Phase(phase::Done{row(u"queued"_s), true}));
        QCOMPARE(model->url(), QString());
        QCOMPARE(client->recentLimits.size(), 1);

        const auto start = fakes.clock->now();
        fakes.clock->advance(1499ms);
        QCOMPARE(client->gets.size(), 0);
        fakes.clock->advance(10min);
        const int polls = settlesAt ? settlesAt : 24;
        QCOMPARE(client->gets, QStringList(polls, u"s1"_s));
        for (int i = 0; i < polls; ++i)
            QCOMPARE(client->getTimes[i] - start, Clock::Duration(1500ms * (i + 1)));
        QCOMPARE(client->recentLimits.size(), 2);
        QCOMPARE(model->phase(), Phase(phase::Done{row(status), true}));
    }

    // Closing the panel ends polling at once, in a sleep or in a request, with no refresh.
    void closingWhilePollingStopsEverything_data() {
        QTest::addColumn<bool>("duringRequest");
        QTest::newRow("during a sleep") << false;
        QTest::newRow("during a poll request") << true;
    }
    void closingWhilePollingStopsEverything() {
        QFETCH(bool, duringRequest);
        client->holdGet = duringRequest;
        model->setUrl(link);
        model->save();
        fakes.clock->advance(3000ms);
        const auto gets = client->gets.size();
        QCOMPARE(gets, duringRequest ? 1 : 2);
        model->closed();
        QCOMPARE(model->phase(), Phase(phase::Idle{}));
        fakes.clock->advance(10min);
        QCOMPARE(client->gets.size(), gets);
        QCOMPARE(client->recentLimits.size(), 1);
        QCOMPARE(fakes.clock->pendingCount(), 0);
    }

    // Per answer of the service: what the panel shows after a save, after closing and after a
    // refresh (a failed save keeps the text in the field for another try; a link that waits in
    // the outbox leaves it), and what becomes of a link waiting in the outbox when it gets that
    // answer: sent, kept for a later round, or dropped with a notification naming it.
    void outcomes_data() {
        QTest::addColumn<int>("status"); // of the answer; 0 none, -1 a success that can't be read
        QTest::addColumn<QString>("panel");
        QTest::addColumn<QString>("waiting");
        const auto failed = [](const QString& message) {
            return u"failed: %1, kept / "_s.arg(message).repeated(3).chopped(3);
        };
        QTest::newRow("saved") << 201 << u"done, refreshed / idle / idle"_s << u"sent"_s;
        QTest::newRow("no answer")
            << 0 << u"queued, waiting / idle, waiting / idle, waiting"_s << u"kept"_s;
        QTest::newRow("signed out")
            << 401 << u"signed out, kept / signed out, kept / idle, kept"_s << u"kept"_s;
        QTest::newRow("refused") << 400 << failed(u"No."_s)
                                 << u"Pinlark couldn't save a link: https://w.test/\nNo."_s;
        QTest::newRow("no endpoint") << 404 << failed(u"No."_s) << u"kept"_s;
        QTest::newRow("server trouble") << 503 << failed(u"No."_s) << u"kept"_s;
        QTest::newRow("unreadable answer") << -1 << failed(offline) << u"kept"_s;
    }
    void outcomes() {
        QFETCH(int, status);
        QFETCH(QString, panel);
        QFETCH(QString, waiting);
        client->onSave = [=](const QString&) -> SaveOutcome {
            const char* code = status == 0 ? "offline" : status == 401 ? "unauthenticated" : "no";
            if (status < 0)
                throw DecodingError(u"missing member \"id\""_s);
            if (status != 201)
                throw APIError(QString::fromLatin1(code), u"No."_s, status);
            return {u"s1"_s, false};
        };
        const auto shown = [this] {
            const QStringList names{"idle", "saving", "done", "failed", "signed out", "queued"};
            const auto* failed = std::get_if<phase::Failed>(&model->phase());
            return names[int(model->phase().index())] + (failed ? u": "_s + failed->message : "") +
                   (model->url().isEmpty() ? "" : ", kept") + (outbox->count() ? ", waiting" : "");
        };
        model->setUrl(link);
        model->save();
        QString seen = shown() + (client->recentLimits.isEmpty() ? "" : ", refreshed");
        model->closed();
        seen += u" / "_s + shown();
        runTask(model->loadRecent());
        QCOMPARE(seen + u" / "_s + shown(), panel);

        QVERIFY(outbox->add(u"https://w.test/"_s));
        outbox->send();
        const auto& told = fakes.notifications->added;
        QCOMPARE(model->waiting().contains(u"https://w.test/"_s) ? u"kept"_s
                 : told.isEmpty()                                ? u"sent"_s
                                  : told[0].title + u": "_s + told[0].body,
                 waiting);
    }

    // Rounds 30 s apart, then twice as long each time up to 30 minutes, each stopping at the
    // oldest link; once the service answers (a panel refresh, as after a sign-in, sends at once)
    // the links go oldest first and the steps start over.
    void backOffAndOrder() {
        client->onSave = unreachable;
        const QString other = u"https://other.test/"_s;
        QVERIFY(outbox->add(link) && outbox->add(other) && outbox->add(link));
        qsizetype tries = 0;
        for (const auto step : {30s, 60s, 120s, 240s, 480s, 960s, 1800s, 1800s}) {
            fakes.clock->advance(step - 1ms);
            QCOMPARE(client->saved.size(), tries);
            fakes.clock->advance(1ms);
            QCOMPARE(client->saved.size(), ++tries);
        }
        client->onSave = [](const QString&) { return SaveOutcome{u"s1"_s, false}; };
        runTask(model->loadRecent());
        QCOMPARE(client->saved, QStringList(9, link) << other);
        client->onSave = unreachable;
        QVERIFY(outbox->add(link));
        fakes.clock->advance(30s);
        QCOMPARE(client->saved.size(), 11);
    }

    // At most 1,000 links and 4 MiB: past either, the save fails as it did without an outbox.
    // A file that can't be read or isn't the outbox's is kept aside untouched, and a new
    // private file takes its place.
    void capsAndBadFiles() {
        writeOutbox(127, 32767);
        restart();
        QVERIFY(!outbox->add(u"https://e.test/"_s.leftJustified(32767, u'b')));
        writeOutbox(1000, 20);
        restart();
        client->onSave = unreachable;
        model->setUrl(link);
        model->save();
        QCOMPARE(model->phase(), Phase(phase::Failed{offline}));
        QVERIFY(writeFile(path, "[]"));
        restart();
        QVERIFY(QDir().mkdir(path)); // a folder in its place can't be read
        QVERIFY(outbox->add(link));
        const QStringList aside = QDir(dir.path()).entryList({u"outbox.json.corrupt-*"_s});
        QCOMPARE(readFile(dir.filePath(aside.value(0))), "[]");
        QCOMPARE(QFile::permissions(path),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    }

    // "offline" changes nothing; "unauthenticated" empties the list and signs out; success
    // while signed out goes back to idle.
    void refreshOutcomes() {
        const QList<SaveRow> one{row(u"done"_s)};
        QString error;
        client->onRecent = [&] {
            if (!error.isEmpty())
                throw APIError(error, u"Nope."_s);
            return one;
        };
        QSignalSpy changes(model.get(), &QuickSaveModel::recentChanged);
        QList<QString> seen;
        for (const QString& answer : {u""_s, u"offline"_s, u"unauthenticated"_s, u""_s}) {
            error = answer;
            runTask(model->loadRecent());
            seen << u"%1 %2"_s.arg(model->recent().size()).arg(model->phase().index());
        }
        // Phase indices: 0 idle, 4 signed out.
        QCOMPARE(seen, (QStringList{"1 0", "1 0", "0 4", "1 0"}));
        QCOMPARE(changes.count(), 3);
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestQuickSaveModel)
#include "tst_quicksavemodel.moc"
