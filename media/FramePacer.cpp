#include "media/FramePacer.h"

#include <algorithm>
#include <chrono>

namespace doorwarden {

namespace {

using std::chrono::duration;
using std::chrono::duration_cast;
using std::chrono::milliseconds;

constexpr auto kOutAtOnceAfter = milliseconds(200);
constexpr auto kSlowAfter = milliseconds(1250);
constexpr auto kIdleAfter = milliseconds(3000);
// A sample this close before the deadline counts as on time.
constexpr auto kSlack = milliseconds(2);

} // namespace

FramePacer::FramePacer(Time created)
    : lastFreshFrameTime_(created)
{
}

int FramePacer::rate(Time now, int targetFps) const
{
    const auto idle = now - lastFreshFrameTime_;
    if (idle >= kIdleAfter) {
        return 1;
    }
    if (idle >= kSlowAfter && targetFps >= 5) {
        return 5;
    }
    return std::max(targetFps, 1);
}

bool FramePacer::offer(bool fresh, Time now, int targetFps)
{
    if (fresh) {
        const Time previous = lastFreshFrameTime_;
        lastFreshFrameTime_ = now;
        if (now - previous >= kOutAtOnceAfter) {
            nextFrameDeadline_ = now;
        }
    }
    const auto interval = duration_cast<Clock::MonotonicTime::duration>(duration<double>(1.0 / rate(now, targetFps)));
    if (!nextFrameDeadline_) {
        nextFrameDeadline_ = now;
    }
    if (*nextFrameDeadline_ > now + kSlack) {
        return false;
    }
    if (*nextFrameDeadline_ + interval < now - interval) {
        nextFrameDeadline_ = now + interval;
    } else {
        *nextFrameDeadline_ += interval;
    }
    return true;
}

} // namespace doorwarden
