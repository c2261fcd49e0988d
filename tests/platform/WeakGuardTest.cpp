#include "platform/WeakGuard.h"
#include "platform/fake/ManualScheduler.h"

#include <gtest/gtest.h>

using namespace doorwarden;
using namespace std::chrono_literals;

namespace {

struct Counter {
    int count = 0;
};

class CounterObject : public QObject {
public:
    int count = 0;
};

} // namespace

TEST(WeakGuardTest, WorkRunsWhileItsOwnerLivesAndIsDroppedAfter)
{
    ManualClock clock;
    ManualScheduler scheduler(clock);
    auto shared = std::make_shared<Counter>();
    auto object = std::make_unique<CounterObject>();
    int sharedRunsAfterDestruction = 0;

    TaskHandle sharedTask = scheduler.postRepeating(1s, weakGuarded(shared, [&](Counter& counter) {
        counter.count += 1;
        sharedRunsAfterDestruction += counter.count > 2 ? 1 : 0;
    }));
    TaskHandle objectTask =
        scheduler.postRepeating(1s, weakGuarded(object.get(), [](CounterObject& owner) { owner.count += 1; }));

    scheduler.advanceBy(2s);
    EXPECT_EQ(shared->count, 2);
    EXPECT_EQ(object->count, 2);

    shared.reset();
    object.reset();
    scheduler.advanceBy(5s); // the tasks keep firing, their work finds no owner
    EXPECT_EQ(sharedRunsAfterDestruction, 0);
}

TEST(WeakGuardTest, PassesArgumentsThrough)
{
    auto owner = std::make_shared<Counter>();
    auto add = weakGuarded(owner, [](Counter& counter, int amount) { counter.count += amount; });
    add(5);
    add(7);
    EXPECT_EQ(owner->count, 12);
}
