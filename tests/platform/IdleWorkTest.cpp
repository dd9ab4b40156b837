#include "platform/IdleWork.h"

#include <QSemaphore>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <utility>
#include <sched.h>

namespace {

// Holds the idle thread, as a machine busy with other work would, until
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

TEST(IdleWork, RunsAtIdlePriorityAndOnceOnlyWhenTheGracePeriodEnds)
{
    QObject context;
    std::atomic_int runs = 0;
    auto policy = [&runs] {
        ++runs;
        return sched_getscheduler(0);
    };
    QFuture<int> quiet = IdleWork::run<int>(&context, 60000, policy);
    ASSERT_TRUE(QTest::qWaitFor([&] { return quiet.isFinished(); }, 5000));
    EXPECT_EQ(quiet.result(), SCHED_IDLE);

    // Held up: after the grace period the work runs at normal priority, and
    // the idle thread, when it comes to it, does not run it again.
    IdleThreadHeldUp busy;
    QFuture<int> late = IdleWork::run<int>(&context, 20, policy);
    ASSERT_TRUE(QTest::qWaitFor([&] { return late.isFinished(); }, 5000));
    EXPECT_EQ(late.result(), SCHED_OTHER);
    busy.release();
    EXPECT_EQ(runs, 2);
}

TEST(IdleWork, WithoutItsContextTheWorkIsLeftToTheIdleThread)
{
    IdleThreadHeldUp busy;
    auto context = std::make_unique<QObject>();
    QFuture<int> future = IdleWork::run<int>(context.get(), 10, [] { return sched_getscheduler(0); });
    context.reset();
    QTest::qWait(100);
    EXPECT_FALSE(future.isFinished());
    busy.release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return future.isFinished(); }, 5000));
    EXPECT_EQ(future.result(), SCHED_IDLE);
}
