#pragma once

#include "platform/Clock.h"

#include <mutex>

namespace doorwarden {

// A clock that moves only when told to. Monotonic time, wall time and uptime advance
// together; the wall clock can also be set on its own (as when the user changes the date).
// Safe to read from any thread.
class ManualClock final : public Clock {
public:
    // Starts at wall time 2026-01-31T09:15:02.000Z with an uptime of one hour.
    ManualClock();

    MonotonicTime monotonicNow() const override;
    WallTime wallNow() const override;
    double uptimeSeconds() const override;

    void advance(std::chrono::nanoseconds step);
    void setWallTime(WallTime wall);

private:
    mutable std::mutex mutex_;
    std::chrono::nanoseconds elapsed_{0};
    WallTime wall_;
};

} // namespace doorwarden
