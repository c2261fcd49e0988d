#include "platform/SerialQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

using namespace doorwarden;

TEST(SerialQueueTest, RunsWorkInOrderOnOneThreadOfItsOwn)
{
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    SerialQueue queue("app.doorwarden.test.order");
    for (int i = 0; i < 1000; ++i) {
        queue.async([&, i] {
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
        queue.async([&] { done.fetch_add(1, std::memory_order_relaxed); });
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
    std::atomic<int> ran{0};
    {
        SerialQueue queue("app.doorwarden.test.drain");
        queue.async([&] {
            // Slow first piece, so that the rest is still queued when destruction starts.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ran += 1;
        });
        for (int i = 0; i < 50; ++i) {
            queue.async([&, i] {
                ran += 1;
                if (i == 49) {
                    queue.async([&] { ran += 1; }); // queued while draining
                }
            });
        }
    }
    EXPECT_EQ(ran.load(), 52);
}

TEST(SerialQueueTest, ManyThreadsPostingLoseNothing)
{
    SerialQueue queue("app.doorwarden.test.contention");
    long total = 0; // touched only on the queue
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t) {
        posters.emplace_back([&] {
            for (int i = 1; i <= 1000; ++i) {
                queue.async([&total, i] { total += i; });
            }
        });
    }
    for (auto& poster : posters) {
        poster.join();
    }
    EXPECT_EQ(queue.sync([&] { return total; }), 4L * 500500L);
}
