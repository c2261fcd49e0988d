#pragma once

#include "platform/Clock.h"

namespace doorwarden {

// The machine's clocks: steady_clock, system_clock and CLOCK_BOOTTIME for uptime
// (which, like the uptime people see, keeps counting while the machine sleeps).
class SystemClock final : public Clock {
public:
    MonotonicTime monotonicNow() const override;
    WallTime wallNow() const override;
    double uptimeSeconds() const override;

    // One instance serves the whole process; it holds no state.
    static const SystemClock& instance();
};

} // namespace doorwarden
