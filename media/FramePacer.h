#pragma once

#include "platform/Clock.h"

#include <optional>

namespace doorwarden {

// Decides which screen samples go on to the encoder. While the screen changes, and for 1.25 s
// after the last change, samples go out at the target frame rate; then at 5 a second; from 3 s
// without a change on, at 1 a second. A change after 0.2 s or more of quiet goes out at once,
// whatever the schedule said. A schedule that fell more than one interval behind starts again
// from now instead of bursting to catch up.
//
// Pure logic on the caller's monotonic times; one pacer per capture, on its runner.
class FramePacer {
public:
    using Time = Clock::MonotonicTime;

    // The quiet time counts from `created`.
    explicit FramePacer(Time created);

    // Whether the sample taken at `now` goes out; `fresh` when it shows a change.
    bool offer(bool fresh, Time now, int targetFps);
    // Frames a second at `now` for the quiet time so far.
    int rate(Time now, int targetFps) const;

    Time lastFreshFrameTime() const { return lastFreshFrameTime_; }
    std::optional<Time> nextFrameDeadline() const { return nextFrameDeadline_; }

private:
    Time lastFreshFrameTime_;
    std::optional<Time> nextFrameDeadline_;
};

} // namespace doorwarden
