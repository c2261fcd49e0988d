#include "platform/linux/SystemClock.h"

#include <ctime>

namespace doorwarden {

Clock::MonotonicTime SystemClock::monotonicNow() const
{
    return std::chrono::steady_clock::now();
}

Clock::WallTime SystemClock::wallNow() const
{
    return std::chrono::system_clock::now();
}

double SystemClock::uptimeSeconds() const
{
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

const SystemClock& SystemClock::instance()
{
    static const SystemClock clock;
    return clock;
}

} // namespace doorwarden
