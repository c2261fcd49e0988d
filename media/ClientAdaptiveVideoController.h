#pragma once

#include "media/ClientAdaptiveVideoControllerState.h"
#include "platform/Clock.h"

#include <optional>

namespace doorwarden {

// Decides, for one screen capture, the frame rate, resolution tier and bitrate percentage from
// three kinds of feedback: transport samples (frames waiting, send time), the viewer's playback
// statistics, and the viewer's requested frame rate, which acts as a ceiling. It climbs and
// descends a fixed ladder: bitrate first, then frame rate, and as a last resort it trades
// resolution for frame rate.
//
// Each operation returns the new state when it differs from the state before the call; the
// capture applies it. Pure logic on the injected clock's monotonic time (a wall-clock step
// must not stall or hurry the adjustments). Runs on the capture's runner; no lock of its own.
class ClientAdaptiveVideoController {
public:
    using State = ClientAdaptiveVideoControllerState;
    using Time = Clock::MonotonicTime;

    static constexpr int kMinimumFps = 10;
    static constexpr int kMaximumFps = 30;

    // The clock must outlive the controller; the spacing starts at creation.
    explicit ClientAdaptiveVideoController(const Clock& clock);

    // One transport sample: video frames waiting in the send queue, and the milliseconds the
    // send took (0 when the transport reports only its queue).
    std::optional<State> recordTransportSample(int queuedFrames, double sendMilliseconds);

    // One viewer report, its fields already chosen by the caller (larger of the queue depths,
    // throughput time else render time, 0 for what the viewer did not report).
    std::optional<State> recordViewerStats(int currentQueueDepth, int maxQueueDepth, int droppedFrames,
                                           int surfaceDrops, double frameMilliseconds, double actualFps);

    // The viewer's requested frame rate, clamped to 10..30, bounds the frame rate from now on.
    std::optional<State> applyViewerTargetFps(int requestedFps);

    const State& state() const { return state_; }
    int slowStreak() const { return slowStreak_; }
    int severeSlowStreak() const { return severeSlowStreak_; }
    int fastStreak() const { return fastStreak_; }
    int viewerHealthyStreak() const { return viewerHealthyStreak_; }
    int lastViewerDroppedFrames() const { return lastViewerDroppedFrames_; }
    int viewerMaxFps() const { return viewerMaxFps_; }
    std::optional<Time> minimumFpsSince() const { return minimumFpsSince_; }

private:
    double frameIntervalMilliseconds() const;
    void degrade(Time now);
    void upgrade();
    void resetStreaks();
    std::optional<State> changedFrom(const State& before) const;

    const Clock& clock_;
    State state_;
    int slowStreak_ = 0;
    int severeSlowStreak_ = 0;
    int fastStreak_ = 0;
    int viewerHealthyStreak_ = 0;
    int lastViewerDroppedFrames_ = 0;
    int viewerMaxFps_ = kMaximumFps;
    Time lastAdjustment_;
    std::optional<Time> minimumFpsSince_;
};

} // namespace doorwarden
