#include "platform/ThreadCheck.h"
#include "platform/ThreadContext.h"
#include "platform/fake/ManualScheduler.h"
#include "platform/linux/QtScheduler.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <chrono>
#include <future>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace doorwarden;
using namespace std::chrono_literals;

namespace {

using Thread = ThreadContext::Thread;

const std::vector<Thread> kWorkers = {Thread::capture, Thread::encode, Thread::input, Thread::audio, Thread::direct};

} // namespace

TEST(ThreadContextTest, WorkersOnOneManualSchedulerRunOnVirtualTime)
{
    ManualClock clock;
    ManualScheduler scheduler(clock);
    const auto start = clock.monotonicNow();
    const auto elapsedMs = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(clock.monotonicNow() - start).count();
    };
    auto threads = ThreadContext::withWorkersOn(scheduler, scheduler);

    // Worker code as production runs it: a cursor poll on the capture thread reporting to the
    // main thread, and a delayed piece of encoding.
    std::vector<long> reportedAt;
    TaskHandle poll = threads.capture().postRepeating(33ms, [&] {
        DOORWARDEN_ASSERT_ON(threads.capture());
        threads.main().post([&, at = elapsedMs()] { reportedAt.push_back(at); });
    });
    long encodedAt = -1;
    TaskHandle encode = threads.encode().postDelayed(1s, [&] { encodedAt = elapsedMs(); });

    scheduler.advanceBy(100ms);
    EXPECT_EQ(reportedAt, (std::vector<long>{33, 66, 99}));
    EXPECT_EQ(encodedAt, -1);
    scheduler.advanceBy(900ms);
    EXPECT_EQ(encodedAt, 1000);
    for (const auto thread : kWorkers) {
        EXPECT_TRUE(threads.runner(thread).isCurrent()) << ThreadContext::label(thread);
    }
}

TEST(ThreadContextTest, ProductionWorkersRunOnDistinctThreadsNamedAfterTheirLabels)
{
    struct Case {
        Thread thread;
        std::string threadName; // what `ps -T` and debuggers show
    };
    const std::vector<Case> cases = {
        {Thread::capture, "capture"},     {Thread::encode, "encode"},         {Thread::input, "remote-input"},
        {Thread::audio, "system-audio"}, {Thread::direct, "p2p-direct"},
    };
    QtScheduler scheduler;
    ThreadContext threads(scheduler);
    EXPECT_TRUE(threads.main().isCurrent());
    EXPECT_EQ(&threads.runner(Thread::main), &scheduler);

    std::set<std::thread::id> seen = {std::this_thread::get_id()};
    for (const auto& [thread, threadName] : cases) {
        TaskRunner& runner = threads.runner(thread);
        EXPECT_FALSE(runner.isCurrent()) << threadName;
        EXPECT_TRUE(std::string(ThreadContext::label(thread)).ends_with("." + threadName)) << threadName;

        struct Seen {
            std::thread::id id;
            std::string name;
            bool current;
        };
        std::promise<Seen> reply;
        runner.post([&] {
            char name[16] = {};
            pthread_getname_np(pthread_self(), name, sizeof name);
            reply.set_value(Seen{std::this_thread::get_id(), name, runner.isCurrent()});
        });
        auto replied = reply.get_future();
        ASSERT_EQ(replied.wait_for(10s), std::future_status::ready) << threadName;
        const Seen worker = replied.get();
        EXPECT_EQ(worker.name, threadName);
        EXPECT_TRUE(worker.current) << threadName;
        EXPECT_TRUE(seen.insert(worker.id).second) << threadName << " shares a thread";
    }
}

TEST(ThreadContextTest, StopsTheWorkersFromCaptureToDirect)
{
    // Each worker holds delayed work that its queue drops, on its own thread, as it stops.
    struct Witness {
        Witness(std::mutex& mutex, std::vector<std::string>& stopped, const char* label)
            : mutex_(mutex)
            , stopped_(stopped)
            , label_(label)
        {
        }
        ~Witness()
        {
            const std::lock_guard lock(mutex_);
            stopped_.emplace_back(label_);
        }
        Witness(const Witness&) = delete;
        Witness& operator=(const Witness&) = delete;

        std::mutex& mutex_;
        std::vector<std::string>& stopped_;
        const char* label_;
    };
    std::mutex mutex;
    std::vector<std::string> stopped;
    std::vector<TaskHandle> pending; // outlives the context: the work is dropped, not cancelled
    QtScheduler scheduler;
    {
        ThreadContext threads(scheduler);
        for (const auto thread : kWorkers) {
            pending.push_back(threads.runner(thread).postDelayed(
                1h, [witness = std::make_unique<Witness>(mutex, stopped, ThreadContext::label(thread))] {}));
        }
    }
    // Capture hands frames to encode, and frames and packets end up on the direct transport:
    // each stops before those it hands work to.
    EXPECT_EQ(stopped, (std::vector<std::string>{
                           ThreadContext::label(Thread::capture), ThreadContext::label(Thread::encode),
                           ThreadContext::label(Thread::audio), ThreadContext::label(Thread::input),
                           ThreadContext::label(Thread::direct)}));
}
