#include "TestSupport.h"
#include "platform/fake/FakePlatform.h"
#include "quicksave/QuickSaveModel.h"
#include "service/APIError.h"
#include "service/DecodingError.h"

#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;

namespace pinlark {

namespace {

// A service whose answers the test scripts. Calls complete at once unless held; a held call
// waits until released or until its task is cancelled, which fails it as "offline", as the
// real client does.
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
        return SaveOutcome{QStringLiteral("s1"), false};
    };
    std::function<QList<SaveRow>()> onRecent = [] { return QList<SaveRow>{}; };
    // Called with the 1-based number of the get request.
    std::function<SaveRow(int)> onGet = [](int) { return row(QStringLiteral("processing")); };

    bool holdSave = false;
    bool holdGet = false;
    std::optional<Completion<>> held;

    QStringList saved;
    QList<int> recentLimits;
    QStringList gets;
    QList<Clock::TimePoint> getTimes;

    static SaveRow row(const QString& status) {
        SaveRow r;
        r.id = QStringLiteral("s1");
        r.url = QStringLiteral("https://example.test/a");
        r.status = status;
        return r;
    }

private:
    QCoro::Task<> hold(bool wait, CancelToken cancel) {
        if (!wait)
            co_return;
        Completion<> done;
        held = done;
        auto subscription = cancel.onCancel([done]() mutable { done(); });
        co_await done;
        if (cancel.isCancelled())
            throw APIError(QStringLiteral("offline"),
                           QStringLiteral("Can't reach Pinlark. Check your connection."));
    }
};

const QString link = QStringLiteral("https://example.test/a");

} // namespace

class TestQuickSaveModel : public QObject {
    Q_OBJECT

    FakePlatform fakes;
    std::shared_ptr<ScriptedClient> client;
    std::unique_ptr<QuickSaveModel> model;

    const phase::Done* done() const { return std::get_if<phase::Done>(&model->phase()); }

private Q_SLOTS:
    void init() {
        TestState::reset();
        fakes = FakePlatform::install();
        client = std::make_shared<ScriptedClient>();
        model = std::make_unique<QuickSaveModel>(client);
    }
    void cleanup() {
        model.reset();
        client.reset();
    }

    void prefillsFromTheClipboard_data() {
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<QString>("expected");
        const QString longPath = QStringLiteral("https://example.test/");
        QTest::newRow("spaces and a line break trimmed")
            << QStringLiteral("  https://example.test/a \n")
            << QStringLiteral("https://example.test/a");
        QTest::newRow("upper case kept")
            << QStringLiteral("HTTPS://EXAMPLE.test/A") << QStringLiteral("HTTPS://EXAMPLE.test/A");
        QTest::newRow("plain http")
            << QStringLiteral("http://example.test") << QStringLiteral("http://example.test");
        QTest::newRow("no scheme") << QStringLiteral("example.test/a") << QString();
        QTest::newRow("ftp") << QStringLiteral("ftp://example.test/a") << QString();
        QTest::newRow("scheme with only a path") << QStringLiteral("https:/a/b") << QString();
        QTest::newRow("host and port only") << QStringLiteral("localhost:3000") << QString();
        QTest::newRow("not a URL") << QStringLiteral("https://exa mple.test") << QString();
        QTest::newRow("empty") << QString() << QString();
        // U+1F600 is two UTF-16 code units and one character: the limit counts characters.
        const QString head = QStringLiteral("https://example.test/");
        const QString wide = QStringLiteral("\U0001F600");
        const QString at2047 = head + wide.repeated(2047 - int(head.size()));
        QTest::newRow("2047 characters") << at2047 << at2047;
        QTest::newRow("2048 characters") << at2047 + QStringLiteral("a") << QString();
    }
    void prefillsFromTheClipboard() {
        QFETCH(QString, clipboard);
        QFETCH(QString, expected);
        fakes.pasteboard->text = clipboard;
        model->opened();
        QCOMPARE(model->url(), expected);
    }

    void prefillNeedsAnEmptyFieldAndIdlePhase() {
        fakes.pasteboard->text = link;
        model->setUrl(QStringLiteral("   "));
        model->opened();
        QCOMPARE(model->url(), QStringLiteral("   "));
        model->save(); // spaces only: nothing happens
        QVERIFY(client->saved.isEmpty());
        QCOMPARE(model->phase(), Phase(phase::Idle{}));
    }

    void noPrefillOutsideIdle_data() {
        QTest::addColumn<int>("outcome"); // 0 failed, 1 signed out, 2 done
        QTest::newRow("failed") << 0;
        QTest::newRow("signed out") << 1;
        QTest::newRow("done") << 2;
    }
    void noPrefillOutsideIdle() {
        QFETCH(int, outcome);
        client->onSave = [outcome](const QString&) -> SaveOutcome {
            if (outcome == 0)
                throw APIError(QStringLiteral("bad_url"),
                               QStringLiteral("That link is not valid."));
            if (outcome == 1)
                throw APIError(QStringLiteral("unauthenticated"),
                               QStringLiteral("Sign in to save."));
            return SaveOutcome{QStringLiteral("s1"), false};
        };
        model->setUrl(link);
        model->save();
        model->setUrl(QString()); // cleared by the save, or by the user after a failure
        fakes.pasteboard->text = QStringLiteral("https://other.test/");
        model->opened();
        QCOMPARE(model->url(), QString());
    }

    void noPrefillAttemptWhileSaving() {
        client->holdSave = true;
        model->setUrl(link);
        model->save();
        model->setUrl(QString());
        fakes.pasteboard->text = QStringLiteral("https://other.test/");
        QSignalSpy urlChanges(model.get(), &QuickSaveModel::urlChanged);
        model->opened();
        QCOMPARE(urlChanges.count(), 0);
        QCOMPARE(client->recentLimits, QList<int>{7}); // the refresh still runs
    }

    void everyAssignmentNotifies() {
        QSignalSpy urlChanges(model.get(), &QuickSaveModel::urlChanged);
        model->setUrl(QString());
        model->setUrl(QString());
        QCOMPARE(urlChanges.count(), 2);
        QSignalSpy recentChanges(model.get(), &QuickSaveModel::recentChanged);
        runTask(model->loadRecent());
        runTask(model->loadRecent());
        QCOMPARE(recentChanges.count(), 2);
    }

    void twoQuickSavesMakeOneRequest() {
        client->holdSave = true;
        model->setUrl(QStringLiteral("  ") + link + QStringLiteral("\n"));
        model->save();
        model->save();
        QCOMPARE(client->saved, QStringList{link});
        QCOMPARE(model->phase(), Phase(phase::Saving{}));
    }

    void settlingOnTheThirdPoll() {
        client->onSave = [](const QString&) { return SaveOutcome{QStringLiteral("s1"), true}; };
        client->onGet = [](int n) {
            return ScriptedClient::row(n < 3 ? QStringLiteral("processing")
                                             : QStringLiteral("done"));
        };
        model->setUrl(link);
        model->save();
        // At once: the provisional row, the field cleared, the first refresh.
        SaveRow provisional;
        provisional.id = QStringLiteral("s1");
        provisional.url = link;
        provisional.status = QStringLiteral("queued");
        QCOMPARE(model->phase(), Phase(phase::Done{provisional, true}));
        QCOMPARE(model->url(), QString());
        QCOMPARE(client->recentLimits.size(), 1);

        fakes.clock->advance(1499ms);
        QCOMPARE(client->gets.size(), 0);
        fakes.clock->advance(1ms);
        QCOMPARE(client->gets.size(), 1);
        QVERIFY(done() && done()->existing);
        fakes.clock->advance(60s);
        QCOMPARE(client->gets,
                 (QStringList{QStringLiteral("s1"), QStringLiteral("s1"), QStringLiteral("s1")}));
        QCOMPARE(client->recentLimits.size(), 2);
        QCOMPARE(model->phase(),
                 Phase(phase::Done{ScriptedClient::row(QStringLiteral("done")), true}));
    }

    void errorStatusAlsoStopsPolling() {
        client->onGet = [](int) { return ScriptedClient::row(QStringLiteral("error")); };
        model->setUrl(link);
        model->save();
        fakes.clock->advance(60s);
        QCOMPARE(client->gets.size(), 1);
    }

    void neverSettling() {
        model->setUrl(link);
        model->save();
        const auto start = fakes.clock->now();
        fakes.clock->advance(10min);
        QCOMPARE(client->gets.size(), 24);
        for (int i = 0; i < 24; ++i)
            QCOMPARE(client->getTimes[i] - start, Clock::Duration(1500ms * (i + 1)));
        QCOMPARE(client->recentLimits.size(), 2);
        QCOMPARE(model->phase(),
                 Phase(phase::Done{ScriptedClient::row(QStringLiteral("processing")), false}));
    }

    void failedPollsAreSkipped() {
        client->onGet = [](int n) -> SaveRow {
            if (n <= 2)
                throw APIError(QStringLiteral("http_500"),
                               QStringLiteral("Something went wrong. Try again."));
            return ScriptedClient::row(QStringLiteral("done"));
        };
        model->setUrl(link);
        model->save();
        fakes.clock->advance(60s);
        QCOMPARE(client->gets.size(), 3);
        QCOMPARE(done()->row.status, QStringLiteral("done"));
    }

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
        QCOMPARE(model->url(), QString());
        fakes.clock->advance(10min);
        QCOMPARE(client->gets.size(), gets);
        QCOMPARE(client->recentLimits.size(), 1); // no final refresh
        QCOMPARE(fakes.clock->pendingCount(), 0);
    }

    void saveFailures_data() {
        QTest::addColumn<int>("kind"); // 0 unauthenticated, 1 service error, 2 decoding error
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("signed out") << 0 << QVariant();
        QTest::newRow("service error") << 1 << QVariant(QStringLiteral("That link is not valid."));
        QTest::newRow("undecodable success body")
            << 2 << QVariant(QStringLiteral("Can't reach Pinlark. Check your connection."));
    }
    void saveFailures() {
        QFETCH(int, kind);
        QFETCH(QVariant, expected);
        client->onSave = [kind](const QString&) -> SaveOutcome {
            if (kind == 0)
                throw APIError(QStringLiteral("unauthenticated"),
                               QStringLiteral("Sign in to save."));
            if (kind == 1)
                throw APIError(QStringLiteral("invalid_url"),
                               QStringLiteral("That link is not valid."));
            throw DecodingError(QStringLiteral("missing member \"id\""));
        };
        model->setUrl(link);
        model->save();
        if (kind == 0)
            QCOMPARE(model->phase(), Phase(phase::SignedOut{}));
        else
            QCOMPARE(model->phase(), Phase(phase::Failed{expected.toString()}));
        QCOMPARE(model->url(), link); // kept for another try
        QVERIFY(client->recentLimits.isEmpty());
        // failed and signed out survive closing the panel
        const Phase before = model->phase();
        model->closed();
        QCOMPARE(model->phase(), before);
    }

    void refreshOutcomes() {
        SaveRow one = ScriptedClient::row(QStringLiteral("done"));
        client->onRecent = [&] { return QList<SaveRow>{one}; };
        runTask(model->loadRecent());
        QCOMPARE(model->recent(), QList<SaveRow>{one});

        // "offline" changes nothing
        client->onRecent = []() -> QList<SaveRow> {
            throw APIError(QStringLiteral("offline"),
                           QStringLiteral("Can't reach Pinlark. Check your connection."));
        };
        model->setUrl(QStringLiteral("x"));
        runTask(model->loadRecent());
        QCOMPARE(model->recent(), QList<SaveRow>{one});
        QCOMPARE(model->phase(), Phase(phase::Idle{}));

        // "unauthenticated" empties the list and signs out
        client->onRecent = []() -> QList<SaveRow> {
            throw APIError(QStringLiteral("unauthenticated"), QStringLiteral("Sign in to save."));
        };
        runTask(model->loadRecent());
        QVERIFY(model->recent().isEmpty());
        QCOMPARE(model->phase(), Phase(phase::SignedOut{}));

        // success while signed out goes back to idle
        client->onRecent = [&] { return QList<SaveRow>{one}; };
        runTask(model->loadRecent());
        QCOMPARE(model->phase(), Phase(phase::Idle{}));
    }

    void successDoesNotLeaveFailed() {
        client->onSave = [](const QString&) -> SaveOutcome {
            throw APIError(QStringLiteral("x"), QStringLiteral("Nope."));
        };
        model->setUrl(link);
        model->save();
        runTask(model->loadRecent());
        QCOMPARE(model->phase(), Phase(phase::Failed{QStringLiteral("Nope.")}));
    }

    void phaseEquality() {
        QVERIFY(Phase(phase::Failed{QStringLiteral("a")}) !=
                Phase(phase::Failed{QStringLiteral("b")}));
        QVERIFY(Phase(phase::Done{ScriptedClient::row(QStringLiteral("x")), true}) !=
                Phase(phase::Done{ScriptedClient::row(QStringLiteral("x")), false}));
        QVERIFY(Phase(phase::Idle{}) != Phase(phase::SignedOut{}));
        QVERIFY(Phase(phase::Saving{}) == Phase(phase::Saving{}));
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestQuickSaveModel)
#include "tst_quicksavemodel.moc"
