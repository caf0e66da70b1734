#include "TestSupport.h"
#include "platform/Async.h"
#include "platform/fake/ManualClock.h"
#include "platform/qt/SystemClock.h"

#include <QThread>

using namespace std::chrono_literals;

using namespace pinlark;

class TestAsync : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void sleepsWakeInOrderAtTheirOwnInstants() {
        ManualClock clock;
        const auto start = clock.now();
        QList<std::pair<int, Clock::Duration>> woke;
        auto sleeper = [&](int id, Clock::Duration d) -> QCoro::Task<> {
            co_await clock.sleep(d);
            woke.append({id, clock.now() - start});
        };
        // A sleep started by a waking task fires within the same advance.
        auto again = [&](int id) -> QCoro::Task<> {
            co_await clock.sleepUntil(clock.now() + 1500ms);
            woke.append({id, clock.now() - start});
            co_await clock.sleepUntil(clock.now() + 1500ms);
            woke.append({id, clock.now() - start});
        };
        auto a = sleeper(1, 3s);
        auto b = again(2);
        auto c = sleeper(3, 1500ms);
        clock.advance(1499ms);
        QVERIFY(woke.isEmpty());
        clock.advance(9501ms);
        QCOMPARE(woke, (QList<std::pair<int, Clock::Duration>>{
                           {2, 1500ms}, {3, 1500ms}, {1, 3s}, {2, 3s}}));
        QCOMPARE(clock.now() - start, Clock::Duration(11s));
        QCOMPARE(clock.pendingCount(), 0);
    }

    // Cancelling wakes a sleep at once, which sees the cancellation, its timer gone, and runs
    // only the callbacks still registered when their turn comes.
    void cancelling() {
        ManualClock clock;
        CancelToken token;
        QStringList ran;
        auto sleeper = [&]() -> QCoro::Task<> {
            co_await clock.sleep(300s, token);
            ran << (token.isCancelled() ? u"woke, cancelled"_s : u"woke"_s);
        };
        const auto before = clock.now();
        auto task = sleeper();
        std::optional<CancelToken::Subscription> second;
        const auto first = token.onCancel([&] {
            ran << u"first"_s;
            second.reset();
        });
        second = token.onCancel([&] { ran << u"second"_s; });
        auto replaced = token.onCancel([&] { ran << u"replaced"_s; });
        replaced = token.onCancel([&] { ran << u"replacement"_s; });
        QVERIFY(ran.isEmpty());
        token.cancel();
        QCOMPARE(ran, QStringList({u"woke, cancelled"_s, u"first"_s, u"replacement"_s}));
        QCOMPARE(clock.now(), before);
        QCOMPARE(clock.pendingCount(), 0);
        auto late = sleeper(); // on a token already cancelled: no wait
        QCOMPARE(ran.size(), 4);
    }

    void completionFromAnotherThreadResumesOnTheMainThread() {
        Completion<QString> done;
        QThread* resumedOn = nullptr;
        auto waiter = [&]() -> QCoro::Task<QString> {
            QString v = co_await done;
            resumedOn = QThread::currentThread();
            co_return v;
        };
        std::unique_ptr<QThread> thread(QThread::create([done]() mutable {
            done(u"from worker"_s);
            done(u"again"_s);
        }));
        auto task = waiter();
        thread->start();
        QCOMPARE(runTask(std::move(task)), u"from worker"_s);
        thread->wait();
        QCOMPARE(resumedOn, QThread::currentThread());
    }

    void systemClockSleepsAndCancels() {
        SystemClock clock;
        CancelToken token;
        const auto start = clock.now();
        runTask(clock.sleep(5ms));
        QVERIFY(clock.now() - start >= 5ms);
        auto sleeper = [&]() -> QCoro::Task<bool> {
            co_await clock.sleep(3600s, token);
            co_return token.isCancelled();
        };
        auto task = sleeper();
        QTimer::singleShot(0, [&] { token.cancel(); });
        QVERIFY(runTask(std::move(task)));
    }
};

QTEST_GUILESS_MAIN(TestAsync)
#include "tst_async.moc"
