#include "platform/ThreadCheck.h"
#include "platform/TaskRunner.h"

#include <gtest/gtest.h>

using namespace doorwarden;

namespace {

// A runner that only answers whether the caller is on its thread, and counts the questions.
class ThreadOnlyRunner final : public TaskRunner {
public:
    explicit ThreadOnlyRunner(bool current)
        : current_(current)
    {
    }
    void post(Work) override {}
    TaskHandle postDelayed(Duration, Work) override { return {}; }
    TaskHandle postRepeating(Duration, Work) override { return {}; }
    bool isCurrent() const override
    {
        asked += 1;
        return current_;
    }

    mutable int asked = 0;

private:
    const bool current_;
};

} // namespace

TEST(ThreadCheckTest, StopsTheProcessOffTheThreadWhenChecksAreOnAndCostsNothingOtherwise)
{
    ThreadOnlyRunner here(true);
    ThreadOnlyRunner elsewhere(false);
    DOORWARDEN_ASSERT_ON(here);
#if DOORWARDEN_THREAD_CHECKS_ON
    EXPECT_EQ(here.asked, 1);
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer refuses new threads in a program that forked while it had threads, which
    // would fail the tests after this one.
    GTEST_SKIP() << "no death tests under ThreadSanitizer";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(DOORWARDEN_ASSERT_ON(elsewhere), "called off the thread of elsewhere");
#else
    DOORWARDEN_ASSERT_ON(elsewhere);
    EXPECT_EQ(here.asked + elsewhere.asked, 0);
#endif
}
