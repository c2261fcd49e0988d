#include "platform/SerialQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace doorwarden;
using namespace std::chrono_literals;

namespace {

using SteadyClock = std::chrono::steady_clock;

// Tells on which thread the work that holds it let go of it.
class ReleaseWitness {
public:
    explicit ReleaseWitness(std::promise<std::thread::id>& releasedOn)
        : releasedOn_(releasedOn)
    {
    }
    ~ReleaseWitness() { releasedOn_.set_value(std::this_thread::get_id()); }
    ReleaseWitness(const ReleaseWitness&) = delete;
    ReleaseWitness& operator=(const ReleaseWitness&) = delete;

private:
    std::promise<std::thread::id>& releasedOn_;
};

bool ready(const std::future<void>& future)
{
    return future.wait_for(10s) == std::future_status::ready;
}

} // namespace

TEST(SerialQueueTest, RunsWorkInOrderOnOneThreadOfItsOwn)
{
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    SerialQueue queue("app.doorwarden.test.order");
    for (int i = 0; i < 1000; ++i) {
        queue.post([&, i] {
            order.push_back(i);
            threads.push_back(std::this_thread::get_id());
        });
    }
    queue.sync([] {});

    ASSERT_EQ(order.size(), 1000u);
    for (int i = 0; i < 1000; ++i) {
        EXPECT_EQ(order[i], i);
        EXPECT_EQ(threads[i], threads[0]);
    }
    EXPECT_NE(threads[0], std::this_thread::get_id());
}

TEST(SerialQueueTest, SyncFromAnotherThreadReturnsAfterTheWorkAndWhatCameBefore)
{
    SerialQueue queue("app.doorwarden.test.sync");
    std::atomic<int> done{0};
    for (int i = 0; i < 100; ++i) {
        queue.post([&] { done.fetch_add(1, std::memory_order_relaxed); });
    }

    int seen = -1;
    std::thread caller([&] { seen = queue.sync([&] { return done.load(std::memory_order_relaxed); }); });
    caller.join();
    EXPECT_EQ(seen, 100);
}

TEST(SerialQueueTest, SyncPassesResultsAndExceptionsBack)
{
    SerialQueue queue("app.doorwarden.test.result");
    EXPECT_EQ(queue.sync([] { return std::string("done"); }), "done");
    EXPECT_THROW(queue.sync([]() -> int { throw std::runtime_error("failed"); }), std::runtime_error);
    // The queue keeps working after the exception.
    EXPECT_EQ(queue.sync([] { return 7; }), 7);
}

TEST(SerialQueueTest, SyncOnTheQueueItselfRunsAtOnce)
{
    SerialQueue queue("app.doorwarden.test.reentrant");
    const bool nestedOnQueue = queue.sync([&] { return queue.sync([&] { return queue.isCurrent(); }); });
    EXPECT_TRUE(nestedOnQueue);
    EXPECT_FALSE(queue.isCurrent());
}

TEST(SerialQueueTest, DestructionDrainsQueuedWork)
{
    // A chain of work, each link posting the next, keeps work queued until destruction has
    // begun, and tells when it has: a probe each link posts due at once no longer runs before
    // the next link, since work due after destruction began is dropped. The link that finds its
    // probe unrun then posts more work, which must run too.
    int links = 0;               // touched on the queue, then after the join
    bool probeRan = false;       // the same
    bool sawDestruction = false; // the same
    int drained = 0;             // the same
    std::vector<TaskHandle> probes;
    std::function<void()> link; // outlives the queue, whose work calls it
    {
        SerialQueue queue("app.doorwarden.test.drain");
        link = [&] {
            if (links > 0 && !probeRan) {
                sawDestruction = true;
                for (int i = 0; i < 50; ++i) {
                    queue.post([&] { ++drained; });
                }
                return;
            }
            ++links;
            probeRan = false;
            probes.push_back(queue.postDelayed(0ms, [&] { probeRan = true; }));
            queue.post([&] { link(); });
        };
        queue.post([&] { link(); });
    }
    EXPECT_TRUE(sawDestruction) << "the chain ended before destruction began, after " << links << " links";
    EXPECT_EQ(drained, 50);
}

TEST(SerialQueueTest, ManyThreadsPostingLoseNothing)
{
    SerialQueue queue("app.doorwarden.test.contention");
    long total = 0; // touched only on the queue
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t) {
        posters.emplace_back([&] {
            for (int i = 1; i <= 1000; ++i) {
                queue.post([&total, i] { total += i; });
            }
        });
    }
    for (auto& poster : posters) {
        poster.join();
    }
    EXPECT_EQ(queue.sync([&] { return total; }), 4L * 500500L);
}

TEST(SerialQueueTest, DelayedWorkRunsInDueOrderAndNeverEarly)
{
    SerialQueue queue("app.doorwarden.test.delayed");
    struct Planned {
        std::string name;
        std::chrono::milliseconds delay; // negative: posted, not delayed
    };
    const std::vector<Planned> plan = {
        {"30ms", 30ms}, {"10ms first", 10ms}, {"20ms", 20ms}, {"0ms", 0ms}, {"10ms second", 10ms}, {"posted", -1ms},
    };
    struct Ran {
        std::string name;
        SteadyClock::time_point at;
    };
    std::vector<Ran> ran; // touched on the queue only
    std::vector<SteadyClock::time_point> earliest;
    std::vector<TaskHandle> handles;
    std::promise<void> allRan;
    for (const auto& planned : plan) {
        auto work = [&, name = planned.name] {
            ran.push_back(Ran{name, SteadyClock::now()});
            if (ran.size() == plan.size()) {
                allRan.set_value();
            }
        };
        earliest.push_back(SteadyClock::now() + std::max(planned.delay, 0ms));
        if (planned.delay < 0ms) {
            queue.post(std::move(work));
        } else {
            handles.push_back(queue.postDelayed(planned.delay, std::move(work)));
        }
    }
    ASSERT_TRUE(ready(allRan.get_future()));

    queue.sync([&] {
        std::vector<std::string> order;
        for (const auto& run : ran) {
            order.push_back(run.name);
        }
        // Work runs in the order it became ready: "0ms" fell due before "posted" was posted.
        EXPECT_EQ(order, (std::vector<std::string>{"0ms", "posted", "10ms first", "10ms second", "20ms", "30ms"}));
        for (std::size_t i = 0; i < plan.size(); ++i) {
            const auto run = std::find_if(ran.begin(), ran.end(), [&](const Ran& r) { return r.name == plan[i].name; });
            EXPECT_GE(run->at, earliest[i]) << plan[i].name << " ran early";
        }
    });
    for (const auto& handle : handles) {
        EXPECT_FALSE(handle.isActive());
    }
}

TEST(SerialQueueTest, CancelledDelayedWorkNeverRunsAndIsReleasedOnTheWorkerAtOnce)
{
    SerialQueue queue("app.doorwarden.test.cancel");
    const auto worker = queue.sync([] { return std::this_thread::get_id(); });
    for (const std::chrono::milliseconds delay : {1ms, std::chrono::milliseconds(1h)}) {
        // The worker is held until the work is cancelled, so a 1 ms delay cannot win the race;
        // once let go, it would find that work long due.
        std::promise<void> gate;
        queue.post([opened = gate.get_future()] { opened.wait(); });
        std::atomic<bool> ran{false};
        std::promise<std::thread::id> releasedOn;
        auto released = releasedOn.get_future();
        TaskHandle cancelled =
            queue.postDelayed(delay, [&ran, witness = std::make_unique<ReleaseWitness>(releasedOn)] { ran = true; });
        cancelled.cancel();
        gate.set_value();

        // Anything run after the cancel finds the work released, long before it was due.
        queue.sync([] {});
        ASSERT_EQ(released.wait_for(0s), std::future_status::ready) << delay.count();
        EXPECT_EQ(released.get(), worker);

        std::promise<void> settled;
        TaskHandle settle = queue.postDelayed(20ms, [&] { settled.set_value(); });
        ASSERT_TRUE(ready(settled.get_future()));
        EXPECT_FALSE(ran) << delay.count();
    }
}

TEST(SerialQueueTest, RepeatingWorkRunsUntilCancelled)
{
    SerialQueue queue("app.doorwarden.test.repeat");

    // Cancelled by its own work on the queue: it never runs again.
    int selfRuns = 0; // touched on the queue only
    TaskHandle selfCancelling;
    // Work on the queue cancels other delayed work before it falls due.
    std::vector<std::string> ran;
    TaskHandle second;
    TaskHandle first;
    queue.sync([&] {
        selfCancelling = queue.postRepeating(2ms, [&] {
            if (++selfRuns == 3) {
                selfCancelling.cancel();
            }
        });
        second = queue.postDelayed(10ms, [&] { ran.emplace_back("second"); });
        first = queue.postDelayed(5ms, [&] {
            ran.emplace_back("first");
            second.cancel();
        });
    });

    // Cancelled from another thread: no run starts after the cancel returns, except one that
    // had started already.
    std::atomic<int> otherRuns{0};
    std::promise<void> ranThrice;
    TaskHandle cancelledElsewhere = queue.postRepeating(2ms, [&] {
        if (++otherRuns == 3) {
            ranThrice.set_value();
        }
    });
    ASSERT_TRUE(ready(ranThrice.get_future()));
    cancelledElsewhere.cancel();
    const int runsAtCancel = otherRuns;

    std::promise<void> settled;
    TaskHandle settle = queue.postDelayed(40ms, [&] { settled.set_value(); });
    ASSERT_TRUE(ready(settled.get_future()));
    queue.sync([&] {
        EXPECT_EQ(selfRuns, 3);
        EXPECT_EQ(ran, (std::vector<std::string>{"first"}));
        EXPECT_FALSE(selfCancelling.isActive());
    });
    EXPECT_LE(otherRuns.load(), runsAtCancel + 1);
}

TEST(SerialQueueTest, DestructionRunsPostedAndDueWorkAndDropsWorkNotYetDue)
{
    std::vector<std::string> ran; // touched on the queue, then after the join
    std::thread::id worker;
    std::promise<std::thread::id> delayedReleasedOn;
    std::promise<std::thread::id> repeatingReleasedOn;
    TaskHandle due;
    TaskHandle notYetDue;
    TaskHandle repeating;
    {
        SerialQueue queue("app.doorwarden.test.stop");
        queue.post([&] {
            worker = std::this_thread::get_id();
            ran.emplace_back("posted");
        });
        due = queue.postDelayed(0ms, [&] { ran.emplace_back("due"); });
        notYetDue = queue.postDelayed(1h, [&, witness = std::make_unique<ReleaseWitness>(delayedReleasedOn)] {
            ran.emplace_back("not yet due");
        });
        repeating = queue.postRepeating(1h, [&, witness = std::make_unique<ReleaseWitness>(repeatingReleasedOn)] {
            ran.emplace_back("repeating");
        });
        queue.post([&] {
            ran.emplace_back("posted last");
            queue.post([&] { ran.emplace_back("posted while stopping"); });
        });
    }
    EXPECT_EQ(ran, (std::vector<std::string>{"posted", "due", "posted last", "posted while stopping"}));
    for (auto* releasedOn : {&delayedReleasedOn, &repeatingReleasedOn}) {
        auto released = releasedOn->get_future();
        ASSERT_EQ(released.wait_for(0s), std::future_status::ready);
        EXPECT_EQ(released.get(), worker);
    }
    EXPECT_FALSE(notYetDue.isActive());
    EXPECT_FALSE(repeating.isActive());
    notYetDue.cancel(); // harmless once the queue is gone
}
