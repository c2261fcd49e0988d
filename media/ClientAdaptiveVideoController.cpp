#include "media/ClientAdaptiveVideoController.h"

#include <algorithm>
#include <chrono>

namespace doorwarden {

namespace {

using Seconds = std::chrono::duration<double>;

constexpr Seconds kSevereSpacing{3};
constexpr Seconds kSpacing{5};
constexpr Seconds kReducedTierAfter{15};
constexpr Seconds kPromotionSpacing{5};

void decrease(int& streak)
{
    streak = std::max(0, streak - 1);
}

} // namespace

ClientAdaptiveVideoController::ClientAdaptiveVideoController(const Clock& clock)
    : clock_(clock)
    , lastAdjustment_(clock.monotonicNow())
{
}

double ClientAdaptiveVideoController::frameIntervalMilliseconds() const
{
    return 1000.0 / std::max(state_.targetFps, 1);
}

std::optional<ClientAdaptiveVideoController::State>
ClientAdaptiveVideoController::recordTransportSample(int queuedFrames, double sendMilliseconds)
{
    const double interval = frameIntervalMilliseconds();
    const double slowLimit = std::max(2.5 * interval, 120.0);
    if (queuedFrames > 3 || sendMilliseconds > 600) {
        ++severeSlowStreak_;
        ++slowStreak_;
        fastStreak_ = 0;
    } else if (queuedFrames == 2 || queuedFrames == 3 || (sendMilliseconds > 0 && sendMilliseconds > slowLimit)) {
        decrease(severeSlowStreak_);
        ++slowStreak_;
        fastStreak_ = 0;
    } else if (sendMilliseconds <= 0 || sendMilliseconds < 0.8 * interval) {
        severeSlowStreak_ = 0;
        decrease(slowStreak_);
        ++fastStreak_;
    } else {
        decrease(severeSlowStreak_);
        decrease(slowStreak_);
        decrease(fastStreak_);
    }

    const Time now = clock_.monotonicNow();
    const Seconds spacing = severeSlowStreak_ > 0 ? kSevereSpacing : kSpacing;
    if (now - lastAdjustment_ < spacing) {
        return std::nullopt;
    }
    const State before = state_;
    if (severeSlowStreak_ >= 8 || slowStreak_ >= 20) {
        degrade(now);
    } else if (fastStreak_ >= (state_.targetFps >= 20 ? 120 : 60)) {
        upgrade();
    } else {
        return std::nullopt;
    }
    // A step restarts the count and the spacing even when it changed nothing.
    resetStreaks();
    lastAdjustment_ = now;
    return changedFrom(before);
}

void ClientAdaptiveVideoController::degrade(Time now)
{
    State& s = state_;
    if (s.targetFps >= 25) {
        s.targetFps = 24;
    } else if (s.targetFps >= 21) {
        s.targetFps = 20;
    } else if (s.targetFps >= 16) {
        s.targetFps = 15;
    } else if (s.targetFps >= 11) {
        s.targetFps = 10;
        minimumFpsSince_ = now;
    } else if (s.resolutionTier == 0 && minimumFpsSince_ && now - *minimumFpsSince_ >= kReducedTierAfter) {
        s.targetFps = 20;
        s.resolutionTier = 1;
        minimumFpsSince_.reset();
    } else if (s.bitratePercent >= 81) {
        s.targetFps = 10;
        s.bitratePercent = 80;
    } else if (s.bitratePercent >= 66) {
        s.targetFps = 10;
        s.bitratePercent = 65;
    } else if (s.bitratePercent >= 51) {
        s.targetFps = 10;
        s.bitratePercent = 50;
    }
}

void ClientAdaptiveVideoController::upgrade()
{
    minimumFpsSince_.reset();
    State& s = state_;
    if (s.bitratePercent < 65) {
        s.bitratePercent = 65;
    } else if (s.bitratePercent < 80) {
        s.bitratePercent = 80;
    } else if (s.bitratePercent < 100) {
        s.bitratePercent = 100;
    } else if (s.targetFps <= 14) {
        s.targetFps = 15;
        s.bitratePercent = 100;
    } else if (s.targetFps <= 19) {
        s.targetFps = 20;
        s.bitratePercent = 100;
    } else if (s.resolutionTier == 1) {
        s.targetFps = 20;
        s.resolutionTier = 0;
        s.bitratePercent = 100;
    } else {
        const int candidate = s.targetFps < 24 ? std::min(24, viewerMaxFps_) : viewerMaxFps_;
        if (candidate > s.targetFps) {
            s.targetFps = candidate;
            s.resolutionTier = 0;
        }
    }
}

std::optional<ClientAdaptiveVideoController::State>
ClientAdaptiveVideoController::recordViewerStats(int currentQueueDepth, int maxQueueDepth, int droppedFrames,
                                                 int surfaceDrops, double frameMilliseconds, double actualFps)
{
    // A counter that went backwards (the viewer restarted it) counts as no new drops.
    const long long droppedDelta = static_cast<long long>(droppedFrames) - lastViewerDroppedFrames_;
    lastViewerDroppedFrames_ = std::max(lastViewerDroppedFrames_, droppedFrames);

    const bool healthy = frameMilliseconds < 0.85 * frameIntervalMilliseconds() && currentQueueDepth < 2 &&
                         maxQueueDepth < 3 && droppedDelta <= 0 && surfaceDrops == 0 &&
                         (actualFps <= 0 || actualFps >= 0.82 * state_.targetFps);
    viewerHealthyStreak_ = healthy ? viewerHealthyStreak_ + 1 : 0;

    const Time now = clock_.monotonicNow();
    if (state_.targetFps >= 24 && state_.targetFps < viewerMaxFps_ && viewerHealthyStreak_ >= 5 &&
        severeSlowStreak_ == 0 && slowStreak_ == 0 && now - lastAdjustment_ >= kPromotionSpacing) {
        const State before = state_;
        state_.targetFps = viewerMaxFps_;
        resetStreaks();
        lastAdjustment_ = now;
        return changedFrom(before);
    }
    return std::nullopt;
}

std::optional<ClientAdaptiveVideoController::State> ClientAdaptiveVideoController::applyViewerTargetFps(int requestedFps)
{
    viewerMaxFps_ = std::clamp(requestedFps, kMinimumFps, kMaximumFps);
    if (viewerMaxFps_ >= state_.targetFps) {
        return std::nullopt; // a higher ceiling is reached through upgrades and promotions
    }
    state_.targetFps = viewerMaxFps_;
    return state_;
}

void ClientAdaptiveVideoController::resetStreaks()
{
    slowStreak_ = 0;
    severeSlowStreak_ = 0;
    fastStreak_ = 0;
    viewerHealthyStreak_ = 0;
}

std::optional<ClientAdaptiveVideoController::State>
ClientAdaptiveVideoController::changedFrom(const State& before) const
{
    return state_ == before ? std::nullopt : std::optional(state_);
}

} // namespace doorwarden
