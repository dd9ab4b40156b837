#include "platform/IdleWork.h"

#include <QSemaphore>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <sched.h>

namespace {

// Holds the idle thread until released, as a machine busy with other work would.
class IdleThreadHeldUp
{
public:
    IdleThreadHeldUp()
    {
        IdleWork::pool().start([this] { m_release.acquire(); });
    }
    ~IdleThreadHeldUp() { release(); }
    void release()
    {
        if (!m_released) {
            m_released = true;
            m_release.release();
            IdleWork::pool().waitForDone();
        }
    }

private:
    QSemaphore m_release;
    bool m_released = false;
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

    // A free idle thread does the work, long before the grace period ends.
    QFuture<int> quiet = IdleWork::run<int>(&context, 60000, policy);
    ASSERT_TRUE(QTest::qWaitFor([&] { return quiet.isFinished(); }, 5000));
    EXPECT_EQ(quiet.result(), SCHED_IDLE);
    EXPECT_EQ(runs, 1);

    // A held-up one: after the grace period the work runs at normal priority,
    // and the idle thread, when it comes to it, does not run it again.
    runs = 0;
    IdleThreadHeldUp busy;
    QFuture<int> late = IdleWork::run<int>(&context, 20, policy);
    ASSERT_TRUE(QTest::qWaitFor([&] { return late.isFinished(); }, 5000));
    EXPECT_EQ(late.result(), SCHED_OTHER);
    busy.release();
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(late.results().size(), 1);
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
