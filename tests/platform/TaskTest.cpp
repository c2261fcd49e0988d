#include "platform/Task.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace doorwarden;

namespace {

// Counts its own destructions, to tell when a task lets go of what it captured.
struct Capture {
    explicit Capture(int& destroyed)
        : destroyed_(destroyed)
    {
    }
    ~Capture() { destroyed_ += 1; }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    int& destroyed_;
};

void doNothing() {}

} // namespace

TEST(TaskTest, OwnsMoveOnlyWorkAndReleasesItExactlyOnce)
{
    int destroyed = 0;
    int ran = 0;
    Task task = [capture = std::make_unique<Capture>(destroyed), &ran] { ran += capture ? 1 : 0; };
    task();

    Task moved = std::move(task);
    EXPECT_FALSE(task); // moved-from tasks are empty
    moved();
    EXPECT_EQ(ran, 2);
    EXPECT_EQ(destroyed, 0);

    moved = [] {}; // assigning over a task releases its work
    EXPECT_EQ(destroyed, 1);
    moved = Task();
    EXPECT_EQ(destroyed, 1);
}

TEST(TaskTest, CallsTheSameObjectEachTime)
{
    std::vector<int> seen;
    Task task = [&seen, count = 0]() mutable { seen.push_back(++count); };
    task();
    task();
    Task moved = std::move(task);
    moved();
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
}

TEST(TaskTest, EmptyCallablesMakeEmptyTasks)
{
    void (*nullFunction)() = nullptr;
    struct Case {
        std::string name;
        Task task;
        bool filled;
    };
    Case cases[] = {
        {"default", Task(), false},
        {"nullptr", Task(nullptr), false},
        {"null function pointer", Task(nullFunction), false},
        {"empty std::function", Task(std::function<void()>()), false},
        {"function", Task(doNothing), true},
        {"filled std::function", Task(std::function<void()>([] {})), true},
        {"lambda", Task([] {}), true},
    };
    for (auto& [name, task, filled] : cases) {
        EXPECT_EQ(static_cast<bool>(task), filled) << name;
        if (filled) {
            EXPECT_NO_THROW(task()) << name;
        } else {
            EXPECT_THROW(task(), std::bad_function_call) << name;
        }
    }
}
