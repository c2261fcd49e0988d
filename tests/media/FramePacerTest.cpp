#include "media/FramePacer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

using namespace doorwarden;
using namespace std::chrono_literals;

namespace {

const FramePacer::Time kStart{std::chrono::hours(1)};

// Offers a sample every `step` from `from` to `until` (excluded); the times that went out.
std::vector<std::chrono::milliseconds> offerEvery(FramePacer& pacer, std::chrono::milliseconds from,
                                                  std::chrono::milliseconds until, std::chrono::milliseconds step,
                                                  bool fresh, int targetFps)
{
    std::vector<std::chrono::milliseconds> out;
    for (auto at = from; at < until; at += step) {
        if (pacer.offer(fresh, kStart + at, targetFps)) {
            out.push_back(at);
        }
    }
    return out;
}

} // namespace

TEST(FramePacerTest, ASecondChangeSoonAfterTheFirstWaitsForTheNextSlot)
{
    FramePacer pacer(kStart);
    EXPECT_TRUE(pacer.offer(true, kStart + 1s, 20));
    EXPECT_EQ(pacer.nextFrameDeadline(), kStart + 1050ms);
    EXPECT_FALSE(pacer.offer(true, kStart + 1010ms, 20));
    EXPECT_FALSE(pacer.offer(true, kStart + 1047ms, 20));
    EXPECT_TRUE(pacer.offer(true, kStart + 1048ms, 20)) << "2 ms early counts as on time";
}

TEST(FramePacerTest, AChangeAfterAPauseGoesOutAtOnceWhateverTheSchedule)
{
    FramePacer pacer(kStart);
    // Quiet for long: 1 frame a second, the next slot a second away.
    EXPECT_TRUE(pacer.offer(false, kStart + 5s, 20));
    EXPECT_EQ(pacer.nextFrameDeadline(), kStart + 6s);
    EXPECT_FALSE(pacer.offer(false, kStart + 5100ms, 20));
    EXPECT_TRUE(pacer.offer(true, kStart + 5200ms, 20));
    // A change 100 ms after the last one is not after a pause: it keeps to the 20 fps slots.
    EXPECT_FALSE(pacer.offer(true, kStart + 5220ms, 20));
    EXPECT_TRUE(pacer.offer(true, kStart + 5250ms, 20));
}

TEST(FramePacerTest, AStillScreenSlowsToFiveAndThenOneFrameASecond)
{
    struct Case {
        int targetFps;
        int fullRateFrames; // in the first 1.25 s after the change
        int slowFrames;     // 1.25 s to 3 s
        int idleFrames;     // 3 s to 10 s
    };
    // Sampled every 1/30 s, as the capture does.
    for (const Case c : {Case{20, 25, 9, 7}, Case{30, 38, 9, 7}, Case{10, 13, 9, 7}, Case{4, 5, 7, 7}}) {
        SCOPED_TRACE(c.targetFps);
        FramePacer pacer(kStart);
        ASSERT_TRUE(pacer.offer(true, kStart + 1s, c.targetFps));
        const auto full = offerEvery(pacer, 1033ms, 2250ms, 33ms, false, c.targetFps);
        const auto slow = offerEvery(pacer, 2250ms, 4s, 33ms, false, c.targetFps);
        const auto idle = offerEvery(pacer, 4s, 11s, 33ms, false, c.targetFps);
        EXPECT_NEAR(static_cast<int>(full.size()) + 1, c.fullRateFrames, 1);
        EXPECT_NEAR(static_cast<int>(slow.size()), c.slowFrames, 1);
        EXPECT_NEAR(static_cast<int>(idle.size()), c.idleFrames, 1);
        EXPECT_EQ(pacer.rate(kStart + 11s, c.targetFps), 1);
    }
}

TEST(FramePacerTest, AScheduleFarBehindRestartsFromNowInsteadOfBursting)
{
    FramePacer pacer(kStart);
    ASSERT_TRUE(pacer.offer(true, kStart + 1s, 20));
    // The source stalled for 200 ms, then samples come every 5 ms.
    const auto out = offerEvery(pacer, 1200ms, 1300ms, 5ms, false, 20);
    EXPECT_EQ(out, (std::vector<std::chrono::milliseconds>{1200ms, 1250ms}));
}
