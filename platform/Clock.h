#pragma once

#include <chrono>

namespace doorwarden {

// Time readings for everything that measures or stamps time. Injected so that tests run
// on virtual time. Implementations are safe to call from any thread.
class Clock {
public:
    using MonotonicTime = std::chrono::steady_clock::time_point;
    using WallTime = std::chrono::system_clock::time_point;

    virtual ~Clock() = default;

    // Never goes backwards; for intervals and deadlines.
    virtual MonotonicTime monotonicNow() const = 0;
    // Calendar time; for time stamps shown to people or sent on the wire.
    virtual WallTime wallNow() const = 0;
    // Seconds since the system started.
    virtual double uptimeSeconds() const = 0;
};

} // namespace doorwarden
