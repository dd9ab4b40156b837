#include "platform/IdleWork.h"

#include <QSemaphore>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <utility>
#include <vector>
#include <sched.h>

namespace {

// Holds the background thread, as a machine busy with other work would, until
// release() is called or the test ends.
struct IdleThreadHeldUp
{
    IdleThreadHeldUp() { IdleWork::pool().start([this] { held.acquire(); }); }
    ~IdleThreadHeldUp() { release(); }
    void release()
    {
        held.release(std::exchange(holding, 0));
        IdleWork::pool().waitForDone();
    }
    QSemaphore held;
    int holding = 1;
};

} // namespace

TEST(IdleWork, RunsAtBatchPriorityAndOnceOnlyWhenTheGracePeriodEnds)
{
    QObject context;
    std::atomic_int runs = 0;
    auto policy = [&runs] {
        ++runs;
        return sched_getscheduler(0);
    };
    QFuture<int> quiet = IdleWork::run<int>(&context, 60000, policy);
    ASSERT_TRUE(QTest::qWaitFor([&] { return quiet.isFinished(); }, 30000));
    // Not SCHED_IDLE: drawing with Qt takes locks the UI thread waits for.
    EXPECT_EQ(quiet.result(), SCHED_BATCH);

    // Held up: after the grace period the work runs at normal priority, and
    // the background thread, when it comes to it, does not run it again.
    IdleThreadHeldUp busy;
    QFuture<int> late = IdleWork::run<int>(&context, 20, policy);
    ASSERT_TRUE(QTest::qWaitFor([&] { return late.isFinished(); }, 30000));
    EXPECT_EQ(late.result(), SCHED_OTHER);
    busy.release();
    EXPECT_EQ(runs, 2);
}

TEST(IdleWork, WithoutItsContextTheWorkIsLeftToTheBackgroundThread)
{
    IdleThreadHeldUp busy;
    auto context = std::make_unique<QObject>();
    QFuture<int> future = IdleWork::run<int>(context.get(), 10, [] { return sched_getscheduler(0); });
    context.reset();
    QTest::qWait(100);
    EXPECT_FALSE(future.isFinished());
    busy.release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return future.isFinished(); }, 30000));
    EXPECT_EQ(future.result(), SCHED_BATCH);
}

TEST(IdleWork, WorkGivenFromSeveralThreadsRunsOnceEachAndInTheOrderEachGaveIt)
{
    // Work is handed to the background thread without a lock; what one thread
    // gives runs in the order it gave it, and nothing twice or never.
    IdleThreadHeldUp busy; // all of it is waiting when the thread comes to it
    constexpr int perThread = 200;
    std::vector<std::vector<int>> ran(4);
    std::vector<std::thread> givers;
    for (int t = 0; t < 4; ++t)
        givers.emplace_back([&ran, t] {
            for (int i = 0; i < perThread; ++i)
                IdleWork::pool().start([&ran, t, i] { ran[size_t(t)].push_back(i); });
        });
    for (std::thread &giver : givers)
        giver.join();
    busy.release(); // waits for all of it
    for (int t = 0; t < 4; ++t) {
        ASSERT_EQ(int(ran[size_t(t)].size()), perThread);
        for (int i = 0; i < perThread; ++i)
            EXPECT_EQ(ran[size_t(t)][size_t(i)], i);
    }
}
