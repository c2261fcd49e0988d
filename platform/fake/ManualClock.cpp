#include "platform/fake/ManualClock.h"

#include <stdexcept>

namespace doorwarden {

namespace {
constexpr std::chrono::seconds kStartWallSinceEpoch{1'769'850'902}; // 2026-01-31T09:15:02Z
constexpr std::chrono::hours kStartUptime{1};
} // namespace

ManualClock::ManualClock()
    : wall_(kStartWallSinceEpoch)
{
}

Clock::MonotonicTime ManualClock::monotonicNow() const
{
    std::lock_guard lock(mutex_);
    return MonotonicTime(kStartUptime + elapsed_);
}

Clock::WallTime ManualClock::wallNow() const
{
    std::lock_guard lock(mutex_);
    return wall_;
}

double ManualClock::uptimeSeconds() const
{
    std::lock_guard lock(mutex_);
    return std::chrono::duration<double>(kStartUptime + elapsed_).count();
}

void ManualClock::advance(std::chrono::nanoseconds step)
{
    if (step.count() < 0) {
        throw std::invalid_argument("ManualClock cannot go backwards");
    }
    std::lock_guard lock(mutex_);
    elapsed_ += step;
    wall_ += std::chrono::duration_cast<WallTime::duration>(step);
}

void ManualClock::setWallTime(WallTime wall)
{
    std::lock_guard lock(mutex_);
    wall_ = wall;
}

} // namespace doorwarden
