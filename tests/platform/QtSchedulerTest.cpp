#include "platform/linux/QtScheduler.h"
#include "support/EventLoopWait.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace doorwarden;
using namespace std::chrono_literals;

namespace {


} // namespace

TEST(QtSchedulerTest, RunsDelayedWorkOnTheLoopInOrderAndNeverEarly)
{
    QtScheduler scheduler;
    std::vector<int> order;
    QElapsedTimer elapsed;
    elapsed.start();
    qint64 laterAtMs = -1;

    TaskHandle later = scheduler.postDelayed(30ms, [&] {
        order.push_back(2);
        laterAtMs = elapsed.elapsed();
    });
    TaskHandle soon = scheduler.postDelayed(0ms, [&] { order.push_back(1); });
    EXPECT_TRUE(order.empty()) << "work must not run inside postDelayed()";

    ASSERT_TRUE(spinUntil([&] { return order.size() == 2; }));
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_GE(laterAtMs, 30);
    EXPECT_FALSE(later.isActive());
}

TEST(QtSchedulerTest, CancelledOrReleasedWorkNeverRuns)
{
    QtScheduler scheduler;
    int runs = 0;
    bool marker = false;
    TaskHandle cancelled = scheduler.postDelayed(1ms, [&] { runs += 1; });
    TaskHandle replaced = scheduler.postDelayed(1ms, [&] { runs += 10; });
    {
        TaskHandle dropped = scheduler.postDelayed(1ms, [&] { runs += 100; });
    }
    cancelled.cancel();
    replaced = scheduler.postDelayed(1ms, [&] { runs += 1000; });
    TaskHandle last = scheduler.postDelayed(40ms, [&] { marker = true; });

    ASSERT_TRUE(spinUntil([&] { return marker; }));
    EXPECT_EQ(runs, 1000);
}

TEST(QtSchedulerTest, RepeatingWorkRunsUntilItCancelsItself)
{
    QtScheduler scheduler;
    int runs = 0;
    bool marker = false;
    TaskHandle task;
    task = scheduler.postRepeating(2ms, [&] {
        if (++runs == 3) {
            task = TaskHandle(); // releasing the handle from inside its own work
        }
    });
    ASSERT_TRUE(spinUntil([&] { return runs >= 3; }));
    TaskHandle settle = scheduler.postDelayed(30ms, [&] { marker = true; });
    ASSERT_TRUE(spinUntil([&] { return marker; }));
    EXPECT_EQ(runs, 3);
}

TEST(QtSchedulerTest, PostedWorkRunsOnTheLoopThread)
{
    QtScheduler scheduler;
    std::thread::id ranOn;
    bool ran = false;
    std::thread poster([&] {
        scheduler.post([&] {
            ranOn = std::this_thread::get_id();
            ran = true;
        });
    });
    poster.join();
    ASSERT_TRUE(spinUntil([&] { return ran; }));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(QtSchedulerTest, WorkOfADestroyedSchedulerIsDropped)
{
    bool ran = false;
    TaskHandle outlivesScheduler;
    {
        QtScheduler scheduler;
        outlivesScheduler = scheduler.postDelayed(0ms, [&] { ran = true; });
        scheduler.post([&] { ran = true; });
    }
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);
    EXPECT_FALSE(outlivesScheduler.isActive());
    outlivesScheduler.cancel(); // harmless after the scheduler is gone
}
