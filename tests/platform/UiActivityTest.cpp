#include "platform/UiActivity.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

TEST(UiActivity, TheUiThreadIsBusyWhileItWorksAndNotWhileItWaitsForEvents)
{
    UiActivity::watch();
    enum Phase { none, waiting, working };
    std::atomic<int> phase{none};
    std::atomic<bool> stop{false}, idleWhileWaiting{false}, busyWhileWaiting{false}, busyWhileWorking{false},
        idleWhileWorking{false};
    // Another thread looks, as an encoding does.
    std::thread looker([&] {
        while (!stop) {
            const int now = phase;
            const bool busy = UiActivity::busy();
            if (now == waiting)
                (busy ? busyWhileWaiting : idleWhileWaiting) = true;
            else if (now == working)
                (busy ? busyWhileWorking : idleWhileWorking) = true;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });

    // Waiting for the next event: a timer 100 ms away.
    QEventLoop loop;
    QTimer::singleShot(100, &loop, [&] {
        phase = working;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 100) {
        } // at work within an event
        phase = none;
        loop.quit();
    });
    phase = waiting;
    loop.exec();
    stop = true;
    looker.join();

    EXPECT_TRUE(idleWhileWaiting);
    EXPECT_TRUE(busyWhileWorking);
    EXPECT_FALSE(idleWhileWorking);
}
