#pragma once

#include "platform/Task.h"
#include "platform/TaskHandle.h"

#include <chrono>

namespace doorwarden {

// Runs work on one thread, now or later: the main thread's event loop (Scheduler) or a worker
// thread (SerialQueue; ThreadContext names them all). Code that belongs to a thread takes that
// thread's runner, so that a test can hand it a ManualScheduler and run it on virtual time.
//
// - Work runs on the runner's thread, one piece at a time, and never inside the call that
//   posts it, even with a zero delay. Work must not throw.
// - Delays and intervals are measured on the monotonic clock from the moment of the call.
// - post() may be called from any thread. postDelayed() and postRepeating() are calls of the
//   runner's own thread unless the implementation says otherwise.
// - The handle keeps delayed and repeating work scheduled; dropping or cancelling it stops the
//   work. It may be cancelled from any thread; see TaskHandle for what that guarantees.
class TaskRunner {
public:
    using Duration = std::chrono::nanoseconds;
    using Work = Task;

    static constexpr Duration kMinimumInterval = std::chrono::milliseconds(1);

    virtual ~TaskRunner() = default;

    // Runs `work` as soon as the runner is free. The work cannot be cancelled, so guard it with
    // its owner (see WeakGuard.h).
    virtual void post(Work work) = 0;

    // Runs `work` once, `delay` from now (a negative delay counts as zero).
    [[nodiscard]] virtual TaskHandle postDelayed(Duration delay, Work work) = 0;

    // Runs `work` every `interval`, the first time one interval from now, until cancelled.
    // Intervals shorter than kMinimumInterval are raised to it.
    [[nodiscard]] virtual TaskHandle postRepeating(Duration interval, Work work) = 0;

    // True on the runner's own thread. Any thread.
    virtual bool isCurrent() const = 0;
};

} // namespace doorwarden
