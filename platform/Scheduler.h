#pragma once

#include "platform/TaskHandle.h"

#include <chrono>
#include <functional>

namespace doorwarden {

// Runs work on the main thread, now or later. Delays are measured on the monotonic clock
// from the moment of the call.
//
// schedule() and scheduleRepeating() are main-thread calls and return a handle that must be
// kept for as long as the work should stay scheduled (see TaskHandle). Work never runs
// inside the call that schedules it, even with a zero delay.
class Scheduler {
public:
    using Duration = std::chrono::nanoseconds;
    using Work = std::function<void()>;

    static constexpr Duration kMinimumInterval = std::chrono::milliseconds(1);

    virtual ~Scheduler() = default;

    // Runs `work` once, `delay` from now.
    [[nodiscard]] virtual TaskHandle schedule(Duration delay, Work work) = 0;

    // Runs `work` every `interval`, the first time one interval from now, until cancelled.
    // Intervals shorter than kMinimumInterval are raised to it.
    [[nodiscard]] virtual TaskHandle scheduleRepeating(Duration interval, Work work) = 0;

    // Runs `work` on the main thread as soon as it is free. Callable from any thread; the
    // work cannot be cancelled, so guard it with its owner (see WeakGuard.h).
    virtual void post(Work work) = 0;
};

} // namespace doorwarden
