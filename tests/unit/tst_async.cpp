#include "TestSupport.h"
#include "platform/Async.h"
#include "platform/fake/ManualClock.h"
#include "platform/qt/SystemClock.h"

#include <QThread>

using namespace std::chrono_literals;

namespace pinlark {

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
        const QList<std::pair<int, Clock::Duration>> expected{
            {2, 1500ms}, {3, 1500ms}, {1, 3s}, {2, 3s}};
        QCOMPARE(woke, expected);
        QCOMPARE(clock.now() - start, Clock::Duration(11s));
        QCOMPARE(clock.pendingCount(), 0);
    }

    void cancelledSleepWakesAtOnce() {
        ManualClock clock;
        CancelToken token;
        bool woke = false;
        bool sawCancellation = false;
        auto sleeper = [&]() -> QCoro::Task<> {
            co_await clock.sleep(300s, token);
            woke = true;
            sawCancellation = token.isCancelled();
        };
        const auto before = clock.now();
        auto task = sleeper();
        QVERIFY(!woke);
        token.cancel();
        QVERIFY(woke);
        QVERIFY(sawCancellation);
        QCOMPARE(clock.now(), before);
        QCOMPARE(clock.pendingCount(), 0); // the sleep's timer is gone
        woke = false;
        auto late = sleeper(); // on a token already cancelled: no wait
        QVERIFY(woke);
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

    // Cancelling runs only the callbacks still registered when their turn comes.
    void cancelRunsOnlyLiveCallbacks() {
        CancelToken token;
        QStringList ran;
        std::optional<CancelToken::Subscription> second;
        const auto first = token.onCancel([&] {
            ran << QStringLiteral("first");
            second.reset();
        });
        second = token.onCancel([&] { ran << QStringLiteral("second"); });
        auto replaced = token.onCancel([&] { ran << QStringLiteral("replaced"); });
        replaced = token.onCancel([&] { ran << QStringLiteral("replacement"); });
        token.cancel();
        QCOMPARE(ran, (QStringList{QStringLiteral("first"), QStringLiteral("replacement")}));
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestAsync)
#include "tst_async.moc"
