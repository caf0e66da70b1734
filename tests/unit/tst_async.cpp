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
    // Cancelling wakes a sleep at once, which sees the cancellation, and runs only the callbacks
    // still registered when their turn comes.
    void cancelling() {
        ManualClock clock;
        CancelToken token;
        QStringList ran;
        auto sleeper = [&]() -> QCoro::Task<> {
            co_await clock.sleep(300s, token);
            ran << (token.isCancelled() ? u"woke, cancelled"_s : u"woke"_s);
        };
        auto task = sleeper();
        std::optional<CancelToken::Subscription> second;
        const auto first = token.onCancel([&] {
            ran << u"first"_s;
            second.reset();
        });
        second = token.onCancel([&] { ran << u"second"_s; });
        QVERIFY(ran.isEmpty());
        token.cancel();
        QCOMPARE(ran, QStringList({u"woke, cancelled"_s, u"first"_s}));
        auto late = sleeper(); // on a token already cancelled: no wait
        QCOMPARE(ran.size(), 3);
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
