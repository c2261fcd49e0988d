// What every TaskRunner promises, checked on each of them: the main-thread scheduler on the Qt
// loop, the manual scheduler on virtual time, and a worker queue on its own thread.

#include "platform/SerialQueue.h"
#include "platform/fake/ManualScheduler.h"
#include "platform/linux/QtScheduler.h"
#include "support/EventLoopWait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace doorwarden;
using namespace std::chrono_literals;

namespace {

// A flag set on one thread and awaited on another.
class Signal {
public:
    void set()
    {
        // Notified under the lock: the waiter may destroy the signal as soon as it sees it set.
        const std::lock_guard lock(mutex_);
        set_ = true;
        changed_.notify_all();
    }
    bool isSet() const
    {
        const std::lock_guard lock(mutex_);
        return set_;
    }
    bool waitFor(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [this] { return set_; });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool set_ = false;
};

// One runner, and how the test lets it run.
class RunnerUnderTest {
public:
    virtual ~RunnerUnderTest() = default;
    virtual TaskRunner& runner() = 0;
    // Lets the runner run until `signal` is set, within a generous limit; true if it was set.
    virtual bool runUntil(Signal& signal) = 0;
    // Whether the runner's thread is the test's own.
    virtual bool ownsTestThread() const = 0;
};

class QtRunner final : public RunnerUnderTest {
public:
    TaskRunner& runner() override { return scheduler_; }
    bool runUntil(Signal& signal) override { return spinUntil([&] { return signal.isSet(); }); }
    bool ownsTestThread() const override { return true; }

private:
    QtScheduler scheduler_;
};

class ManualRunner final : public RunnerUnderTest {
public:
    TaskRunner& runner() override { return scheduler_; }
    bool runUntil(Signal& signal) override
    {
        for (int step = 0; step < 100'000 && !signal.isSet(); ++step) {
            scheduler_.advanceBy(1ms);
        }
        return signal.isSet();
    }
    bool ownsTestThread() const override { return true; }

private:
    ManualClock clock_;
    ManualScheduler scheduler_{clock_};
};

class SerialRunner final : public RunnerUnderTest {
public:
    TaskRunner& runner() override { return queue_; }
    bool runUntil(Signal& signal) override { return signal.waitFor(10s); }
    bool ownsTestThread() const override { return false; }

private:
    SerialQueue queue_{"app.doorwarden.test.runner"};
};

struct RunnerKind {
    std::string name;
    std::function<std::unique_ptr<RunnerUnderTest>()> make;
};

void PrintTo(const RunnerKind& kind, std::ostream* out)
{
    *out << kind.name;
}

class TaskRunnerTest : public ::testing::TestWithParam<RunnerKind> {
protected:
    std::unique_ptr<RunnerUnderTest> under = GetParam().make();
    TaskRunner& runner = under->runner();
};

// Set around the calls that post, on the posting thread only.
thread_local bool insidePostingCall = false;

} // namespace

TEST_P(TaskRunnerTest, RunsMoveOnlyWorkOnItsThreadNeverInsideTheCall)
{
    struct Run {
        std::string what;
        int value;
        bool onRunner;
        bool insideCall;
    };
    std::mutex mutex;
    std::vector<Run> runs;
    const auto record = [&](std::string what, int value) {
        const std::lock_guard lock(mutex);
        runs.push_back(Run{std::move(what), value, runner.isCurrent(), insidePostingCall});
    };
    Signal posted, delayed, repeatedTwice;

    insidePostingCall = true;
    runner.post([&, value = std::make_unique<int>(1)] {
        record("posted", *value);
        posted.set();
    });
    TaskHandle once = runner.postDelayed(1ms, [&, value = std::make_unique<int>(2)] {
        record("delayed", *value);
        delayed.set();
    });
    TaskHandle repeating = runner.postRepeating(1ms, [&, value = std::make_unique<int>(3), count = 0]() mutable {
        record("repeating", *value);
        if (++count == 2) {
            repeatedTwice.set();
        }
    });
    insidePostingCall = false;

    ASSERT_TRUE(under->runUntil(posted));
    ASSERT_TRUE(under->runUntil(delayed));
    ASSERT_TRUE(under->runUntil(repeatedTwice));
    repeating.cancel();

    const std::lock_guard lock(mutex);
    ASSERT_GE(runs.size(), 4u);
    for (const auto& run : runs) {
        EXPECT_TRUE(run.onRunner) << run.what;
        EXPECT_FALSE(run.insideCall) << run.what;
        EXPECT_EQ(run.value, run.what == "posted" ? 1 : run.what == "delayed" ? 2 : 3) << run.what;
    }
}

TEST_P(TaskRunnerTest, WorkPostedFromWorkRunsAfterIt)
{
    std::mutex mutex;
    std::vector<std::string> order;
    const auto record = [&](const char* what) {
        const std::lock_guard lock(mutex);
        order.emplace_back(what);
    };
    Signal done;
    runner.post([&] {
        runner.post([&] {
            record("inner");
            done.set();
        });
        record("outer ends");
    });
    ASSERT_TRUE(under->runUntil(done));
    const std::lock_guard lock(mutex);
    EXPECT_EQ(order, (std::vector<std::string>{"outer ends", "inner"}));
}

TEST_P(TaskRunnerTest, IsCurrentOnlyOnItsOwnThread)
{
    bool onOtherThread = true;
    std::thread([&] { onOtherThread = runner.isCurrent(); }).join();
    EXPECT_FALSE(onOtherThread);
    EXPECT_EQ(runner.isCurrent(), under->ownsTestThread());

    std::atomic<bool> inWork{false};
    Signal ran;
    runner.post([&] {
        inWork = runner.isCurrent();
        ran.set();
    });
    ASSERT_TRUE(under->runUntil(ran));
    EXPECT_TRUE(inWork);
}

TEST_P(TaskRunnerTest, WorkCancelledFromAnotherThreadStartsNoMore)
{
    std::atomic<bool> cancelReturned{false};
    std::atomic<int> startedAfterCancel{0};
    const auto work = [&] {
        if (cancelReturned) {
            startedAfterCancel += 1;
        }
    };
    TaskHandle once = runner.postDelayed(20ms, work);
    TaskHandle repeating = runner.postRepeating(5ms, work);
    std::thread([&] {
        once.cancel();
        repeating.cancel();
        cancelReturned = true;
    }).join();
    EXPECT_FALSE(once.isActive());
    EXPECT_FALSE(repeating.isActive());

    Signal settled;
    TaskHandle settle = runner.postDelayed(60ms, [&] { settled.set(); });
    ASSERT_TRUE(under->runUntil(settled));
    EXPECT_EQ(startedAfterCancel.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Runners, TaskRunnerTest,
    ::testing::Values(RunnerKind{"QtScheduler", [] { return std::unique_ptr<RunnerUnderTest>(new QtRunner); }},
                      RunnerKind{"ManualScheduler", [] { return std::unique_ptr<RunnerUnderTest>(new ManualRunner); }},
                      RunnerKind{"SerialQueue", [] { return std::unique_ptr<RunnerUnderTest>(new SerialRunner); }}),
    [](const ::testing::TestParamInfo<RunnerKind>& runner) { return runner.param.name; });
