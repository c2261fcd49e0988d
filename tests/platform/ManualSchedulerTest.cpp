#include "platform/fake/ManualScheduler.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace doorwarden;
using namespace std::chrono_literals;

namespace {

class ManualSchedulerTest : public ::testing::Test {
protected:
    double secondsSinceStart() const
    {
        return std::chrono::duration<double>(clock.monotonicNow() - start).count();
    }

    ManualClock clock;
    ManualScheduler scheduler{clock};
    const Clock::MonotonicTime start = clock.monotonicNow();
};

// A countdown whose every one-second wait is measured from the moment it starts, the way
// the session's close countdown runs.
class Countdown {
public:
    Countdown(Scheduler& scheduler, std::function<void(int)> onTick)
        : scheduler_(scheduler)
        , onTick_(std::move(onTick))
    {
    }
    void start(int from) { step(from); }

private:
    void step(int remaining)
    {
        task_ = scheduler_.postDelayed(1s, [this, remaining] {
            onTick_(remaining - 1);
            if (remaining > 1) {
                step(remaining - 1);
            }
        });
    }

    Scheduler& scheduler_;
    std::function<void(int)> onTick_;
    TaskHandle task_;
};

} // namespace

TEST_F(ManualSchedulerTest, TenSecondCountdownRunsOnVirtualTime)
{
    std::vector<std::pair<int, double>> ticks;
    Countdown countdown(scheduler, [&](int remaining) { ticks.emplace_back(remaining, secondsSinceStart()); });
    countdown.start(10);

    scheduler.advanceBy(999ms);
    EXPECT_TRUE(ticks.empty());

    scheduler.advanceBy(10s);
    ASSERT_EQ(ticks.size(), 10u);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(ticks[i].first, 9 - i);
        EXPECT_DOUBLE_EQ(ticks[i].second, i + 1.0);
    }
    EXPECT_DOUBLE_EQ(secondsSinceStart(), 10.999);
    EXPECT_EQ(scheduler.pendingCount(), 0u);
}

TEST_F(ManualSchedulerTest, CancelledWorkNeverRuns)
{
    int runs = 0;
    TaskHandle cancelled = scheduler.postDelayed(1s, [&] { runs += 1; });
    TaskHandle replaced = scheduler.postDelayed(1s, [&] { runs += 10; });
    TaskHandle replacement = scheduler.postDelayed(2s, [&] { runs += 100; });
    TaskHandle repeating = scheduler.postRepeating(1s, [&] { runs += 1000; });
    {
        TaskHandle dropped = scheduler.postDelayed(1s, [&] { runs += 10000; });
    }

    cancelled.cancel();
    replaced = std::move(replacement);
    EXPECT_FALSE(cancelled.isActive());
    EXPECT_TRUE(replaced.isActive());

    scheduler.advanceBy(1s);
    EXPECT_EQ(runs, 1000);
    repeating.cancel();
    scheduler.advanceBy(5s);
    EXPECT_EQ(runs, 1100);
    EXPECT_FALSE(replaced.isActive()); // a one-shot that ran is no longer active
}

TEST_F(ManualSchedulerTest, RepeatingWorkCanCancelItselfAndKeepsItsRhythm)
{
    std::vector<double> times;
    TaskHandle task;
    task = scheduler.postRepeating(250ms, [&] {
        times.push_back(secondsSinceStart());
        if (times.size() == 3) {
            task.cancel();
        }
    });
    scheduler.advanceBy(10s);
    EXPECT_EQ(times, (std::vector<double>{0.25, 0.5, 0.75}));
}

TEST_F(ManualSchedulerTest, RunsInOrderOfDueTimeThenOfScheduling)
{
    std::vector<std::string> order;
    TaskHandle nested;
    TaskHandle late = scheduler.postDelayed(2s, [&] { order.push_back("late"); });
    TaskHandle first = scheduler.postDelayed(1s, [&] { order.push_back("first"); });
    TaskHandle second = scheduler.postDelayed(1s, [&] {
        order.push_back("second");
        // Falls due within the same advance, before "late".
        nested = scheduler.postDelayed(500ms, [&] { order.push_back("nested"); });
    });
    scheduler.post([&] { order.push_back("posted"); });

    scheduler.advanceBy(3s);
    EXPECT_EQ(order, (std::vector<std::string>{"posted", "first", "second", "nested", "late"}));
}

TEST_F(ManualSchedulerTest, ZeroDelayWorkWaitsForTheTestToRunIt)
{
    bool ran = false;
    TaskHandle task = scheduler.postDelayed(0s, [&] { ran = true; });
    EXPECT_FALSE(ran);
    scheduler.runUntilIdle();
    EXPECT_TRUE(ran);
    EXPECT_DOUBLE_EQ(secondsSinceStart(), 0.0);
}

TEST_F(ManualSchedulerTest, PostFromOtherThreadsRunsOnTheTestThread)
{
    std::vector<std::thread::id> ranOn;
    std::vector<std::thread> posters;
    for (int i = 0; i < 4; ++i) {
        posters.emplace_back([&] {
            for (int j = 0; j < 50; ++j) {
                scheduler.post([&] { ranOn.push_back(std::this_thread::get_id()); });
            }
        });
    }
    for (auto& poster : posters) {
        poster.join();
    }
    scheduler.runUntilIdle();
    ASSERT_EQ(ranOn.size(), 200u);
    for (const auto id : ranOn) {
        EXPECT_EQ(id, std::this_thread::get_id());
    }
}
