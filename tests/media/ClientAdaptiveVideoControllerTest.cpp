#include "media/ClientAdaptiveVideoController.h"

#include "platform/fake/ManualClock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

using namespace doorwarden;
using namespace std::chrono_literals;

namespace {

using State = ClientAdaptiveVideoController::State;

constexpr State kInitial{20, 0, 100};

struct Sample {
    int queuedFrames = 0;
    double sendMilliseconds = 0;
};
constexpr Sample kFast{0, 0};
constexpr Sample kSevere{4, 0};
constexpr Sample kSlow{2, 0};

class Controller {
public:
    // Feeds `count` samples; returns the last answer and fails the test on any earlier one.
    std::optional<State> feed(Sample sample, int count)
    {
        std::optional<State> last;
        for (int i = 0; i < count; ++i) {
            EXPECT_FALSE(last) << "changed early, at sample " << i << " to " << *last;
            last = controller.recordTransportSample(sample.queuedFrames, sample.sendMilliseconds);
        }
        return last;
    }

    std::optional<State> healthyReport() { return controller.recordViewerStats(0, 0, 0, 0, 1.0, 0); }

    // From 20 fps to 24 and then 30, each after 5 seconds and 120 fast samples.
    void climbToThirty()
    {
        clock.advance(5s);
        ASSERT_EQ(feed(kFast, 120), (State{24, 0, 100}));
        clock.advance(5s);
        ASSERT_EQ(feed(kFast, 120), (State{30, 0, 100}));
    }

    // Eight severe samples after three seconds: one degrade step.
    std::optional<State> degradeStep()
    {
        clock.advance(3s);
        return feed(kSevere, 8);
    }

    ManualClock clock;
    ClientAdaptiveVideoController controller{clock};
};

} // namespace

TEST(ClientAdaptiveVideoControllerTest, FirstUpgradeNeedsFiveSecondsAndOneHundredTwentyFastSamples)
{
    Controller c;
    EXPECT_EQ(c.controller.state(), kInitial);
    EXPECT_FALSE(c.feed(kFast, 200)) << "nothing changes within the first 5 seconds";
    c.clock.advance(5s);
    EXPECT_EQ(c.controller.recordTransportSample(0, 0), (State{24, 0, 100})) << "the streak had reached 200";

    // The next one needs both again: 119 samples after 5 seconds are not enough.
    c.clock.advance(5s);
    EXPECT_FALSE(c.feed(kFast, 119));
    EXPECT_EQ(c.controller.recordTransportSample(0, 0), (State{30, 0, 100}));
    EXPECT_EQ(c.controller.fastStreak(), 0);
}

TEST(ClientAdaptiveVideoControllerTest, SamplesAreClassifiedByQueueAndSendTime)
{
    struct Case {
        const char* name;
        bool atThirtyFps;
        std::vector<Sample> before;
        Sample sample;
        int severe, slow, fast;
    };
    const std::vector<Case> cases = {
        {"four queued is severe even at 0 ms", false, {}, {4, 0}, 1, 1, 0},
        {"a send over 600 ms is severe", false, {}, {0, 600.5}, 1, 1, 0},
        {"two queued is slow", false, {kSevere}, {2, 0}, 0, 2, 0},
        {"three queued is slow", false, {}, {3, 0}, 0, 1, 0},
        {"20 fps: 125 ms is the slow limit, still steady", false, {kSevere, kSevere}, {0, 125}, 1, 1, 0},
        {"20 fps: past 125 ms is slow", false, {}, {0, 125.5}, 0, 1, 0},
        {"30 fps: the slow limit is 120 ms, not 83", true, {}, {0, 120.5}, 0, 1, 0},
        {"30 fps: 119 ms is steady", true, {kSevere}, {0, 119}, 0, 0, 0},
        {"20 fps: under 40 ms is fast", false, {kSevere}, {0, 39.9}, 0, 0, 1},
        {"20 fps: 40 ms is steady", false, {kFast, kFast}, {0, 40}, 0, 0, 1},
        {"one queued and no time is fast", false, {kSlow, kSlow}, {1, 0}, 0, 1, 1},
        {"streaks never fall below 0", false, {}, {0, 60}, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Controller t;
        if (c.atThirtyFps) {
            t.climbToThirty();
        }
        for (const Sample& s : c.before) {
            t.controller.recordTransportSample(s.queuedFrames, s.sendMilliseconds);
        }
        EXPECT_FALSE(t.controller.recordTransportSample(c.sample.queuedFrames, c.sample.sendMilliseconds));
        EXPECT_EQ(t.controller.severeSlowStreak(), c.severe);
        EXPECT_EQ(t.controller.slowStreak(), c.slow);
        EXPECT_EQ(t.controller.fastStreak(), c.fast);
    }
}

TEST(ClientAdaptiveVideoControllerTest, SevereSamplesDegradeAfterThreeSecondsOtherwiseAfterFive)
{
    Controller c;
    c.climbToThirty();
    c.clock.advance(2900ms);
    EXPECT_FALSE(c.feed(kSevere, 8)) << "2.9 s since the last adjustment";
    c.clock.advance(100ms);
    EXPECT_EQ(c.controller.recordTransportSample(4, 0), (State{24, 0, 100}));

    // Slow samples alone wait 5 seconds.
    c.clock.advance(3s);
    EXPECT_FALSE(c.feed(kSlow, 30));
    c.clock.advance(2s);
    EXPECT_EQ(c.controller.recordTransportSample(2, 0), (State{20, 0, 100}));
}

TEST(ClientAdaptiveVideoControllerTest, TenFramesASecondLowersTheBitrateThenTradesResolutionAfterFifteenSeconds)
{
    Controller c;
    EXPECT_EQ(c.degradeStep(), (State{15, 0, 100}));
    EXPECT_FALSE(c.controller.minimumFpsSince());
    EXPECT_EQ(c.degradeStep(), (State{10, 0, 100}));
    const auto reachedTen = c.controller.minimumFpsSince();
    ASSERT_TRUE(reachedTen);
    EXPECT_EQ(*reachedTen, c.clock.monotonicNow());
    EXPECT_EQ(c.degradeStep(), (State{10, 0, 80}));
    EXPECT_EQ(c.degradeStep(), (State{10, 0, 65}));
    EXPECT_EQ(c.degradeStep(), (State{10, 0, 50}));
    EXPECT_FALSE(c.degradeStep()) << "12 s at 10 fps and 50 %: nothing left below";
    EXPECT_EQ(c.degradeStep(), (State{20, 1, 50})) << "15 s at 10 fps: the reduced tier, bitrate kept";
    EXPECT_FALSE(c.controller.minimumFpsSince());

    // Back up: bitrate first, then full resolution once at 20 fps and 100 %.
    const std::vector<State> ladder = {{20, 1, 65}, {20, 1, 80}, {20, 1, 100}, {20, 0, 100}, {24, 0, 100}};
    for (const State& next : ladder) {
        c.clock.advance(5s);
        EXPECT_EQ(c.feed(kFast, 120), next);
    }
}

TEST(ClientAdaptiveVideoControllerTest, AtTheCeilingsOwnTenFramesOnlyTheBitrateGoesDown)
{
    Controller c;
    EXPECT_EQ(c.controller.applyViewerTargetFps(10), (State{10, 0, 100}));
    EXPECT_FALSE(c.controller.minimumFpsSince());
    EXPECT_EQ(c.degradeStep(), (State{10, 0, 80}));
    c.clock.advance(20s);
    EXPECT_EQ(c.feed(kSevere, 8), (State{10, 0, 65})) << "no tier change without a decline to 10 fps";
    EXPECT_EQ(c.degradeStep(), (State{10, 0, 50}));
}

TEST(ClientAdaptiveVideoControllerTest, AStepThatChangesNothingStillRestartsTheStreaksAndTheSpacing)
{
    Controller c;
    c.controller.applyViewerTargetFps(10);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(c.degradeStep());
    }
    ASSERT_EQ(c.controller.state(), (State{10, 0, 50}));
    EXPECT_FALSE(c.degradeStep());
    EXPECT_EQ(c.controller.severeSlowStreak(), 0);
    EXPECT_EQ(c.controller.slowStreak(), 0);

    // Upgrading at the ceiling of 10: the steps to 15 and 20 ignore it, the climb above stops.
    const std::vector<State> ladder = {{10, 0, 65}, {10, 0, 80}, {10, 0, 100}, {15, 0, 100}, {20, 0, 100}};
    for (const State& next : ladder) {
        c.clock.advance(5s);
        EXPECT_EQ(c.feed(kFast, 60), next) << "under 20 fps 60 fast samples are enough";
    }
    c.clock.advance(5s);
    EXPECT_FALSE(c.feed(kFast, 120)) << "the ceiling holds it at 20";
    EXPECT_EQ(c.controller.fastStreak(), 0);
    c.clock.advance(4s);
    EXPECT_FALSE(c.feed(kFast, 120)) << "the spacing restarted with the empty step";
}

TEST(ClientAdaptiveVideoControllerTest, TheViewerCeilingIsClampedAndOnlyLowersAtOnce)
{
    struct Case {
        int requested;
        int storedCeiling;
        std::optional<State> result;
    };
    const std::vector<Case> cases = {
        {5, 10, State{10, 0, 100}},
        {60, 30, std::nullopt},
        {25, 25, std::nullopt},
        {15, 15, State{15, 0, 100}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.requested);
        Controller t;
        t.controller.recordTransportSample(4, 0);
        EXPECT_EQ(t.controller.applyViewerTargetFps(c.requested), c.result);
        EXPECT_EQ(t.controller.viewerMaxFps(), c.storedCeiling);
        EXPECT_EQ(t.controller.severeSlowStreak(), 1) << "the streaks are left alone";
    }
}

TEST(ClientAdaptiveVideoControllerTest, HealthyViewerReportsPromoteFromTwentyFourToTheCeiling)
{
    Controller c;
    c.clock.advance(5s);
    ASSERT_EQ(c.feed(kFast, 120), (State{24, 0, 100}));
    for (int i = 0; i < 4; ++i) {
        EXPECT_FALSE(c.healthyReport());
    }
    EXPECT_FALSE(c.healthyReport()) << "five healthy reports, but not yet 5 s since the upgrade";
    c.clock.advance(5s);
    EXPECT_EQ(c.healthyReport(), (State{30, 0, 100}));
    EXPECT_EQ(c.controller.viewerHealthyStreak(), 0);

    // At 20 fps viewer reports alone never promote.
    Controller twenty;
    twenty.clock.advance(60s);
    for (int i = 0; i < 20; ++i) {
        EXPECT_FALSE(twenty.healthyReport());
    }
}

TEST(ClientAdaptiveVideoControllerTest, ViewerReportsAreHealthyOnlyWhenEveryMeasureIs)
{
    struct Report {
        const char* name;
        int current, maximum, dropped, surface;
        double frameMs, fps;
        bool healthy;
    };
    // At 20 fps: interval 50 ms, so frames must take under 42.5 ms and arrive at 16.4 fps or more.
    const std::vector<Report> reports = {
        {"all quiet", 1, 2, 0, 0, 42.4, 16.4, true},
        {"slow frames", 0, 0, 0, 0, 42.5, 0, false},
        {"a queue of two", 2, 0, 0, 0, 1, 0, false},
        {"a peak of three", 0, 3, 0, 0, 1, 0, false},
        {"new drops", 0, 0, 1, 0, 1, 0, false},
        {"surface drops", 0, 0, 0, 1, 1, 0, false},
        {"too few frames", 0, 0, 0, 0, 1, 16.3, false},
        {"frame rate not reported", 0, 0, 0, 0, 1, 0, true},
    };
    for (const auto& r : reports) {
        SCOPED_TRACE(r.name);
        Controller t;
        t.controller.recordViewerStats(r.current, r.maximum, r.dropped, r.surface, r.frameMs, r.fps);
        EXPECT_EQ(t.controller.viewerHealthyStreak(), r.healthy ? 1 : 0);
    }
}

TEST(ClientAdaptiveVideoControllerTest, ADroppedCountGoingBackwardsIsNoNewDrop)
{
    Controller c;
    c.controller.recordViewerStats(0, 0, 10, 0, 1, 0);
    EXPECT_EQ(c.controller.viewerHealthyStreak(), 0) << "ten new drops";
    c.controller.recordViewerStats(0, 0, 3, 0, 1, 0);
    EXPECT_EQ(c.controller.viewerHealthyStreak(), 1) << "the viewer restarted its counter";
    EXPECT_EQ(c.controller.lastViewerDroppedFrames(), 10);
    c.controller.recordViewerStats(0, 0, 11, 0, 1, 0);
    EXPECT_EQ(c.controller.viewerHealthyStreak(), 0) << "measured from the highest count";
}

TEST(ClientAdaptiveVideoControllerTest, AdjustmentsFollowMonotonicTimeNotTheWallClock)
{
    Controller c;
    c.clock.setWallTime(c.clock.wallNow() + std::chrono::hours(24));
    EXPECT_FALSE(c.feed(kFast, 200)) << "a wall-clock jump is no elapsed time";
    c.clock.advance(5s);
    EXPECT_EQ(c.controller.recordTransportSample(0, 0), (State{24, 0, 100}));
}
