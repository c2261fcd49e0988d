#pragma once

#include "platform/Scheduler.h"
#include "platform/fake/ManualClock.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace doorwarden {

// A scheduler on virtual time for tests. Nothing runs until the test advances time; then
// each piece of due work runs with the clock set to its due time, in order of due time and,
// for equal times, of posting. Work posted while advancing runs in the same advance when it
// falls due within it.
//
// It is also the fake of any worker runner (see ThreadContext): code that runs on a worker
// thread in production runs here on virtual time, on the test's thread. Its own thread is the
// one that created it: postDelayed(), postRepeating() and advancing belong there; post() and
// cancelling a handle may come from any thread.
class ManualScheduler final : public Scheduler {
public:
    explicit ManualScheduler(ManualClock& clock);
    ~ManualScheduler() override;

    void post(Work work) override;
    [[nodiscard]] TaskHandle postDelayed(Duration delay, Work work) override;
    [[nodiscard]] TaskHandle postRepeating(Duration interval, Work work) override;
    bool isCurrent() const override;

    // Moves virtual time forward by `step`, running what falls due on the way.
    void advanceBy(Duration step);
    // Runs what is due now, including what that work schedules for now.
    void runUntilIdle();
    // Pieces of work still waiting to run (cancelled work excluded).
    std::size_t pendingCount() const;

private:
    class TaskState;
    struct Entry {
        Duration due;
        std::uint64_t sequence;
        std::shared_ptr<TaskState> task;
    };

    std::shared_ptr<TaskState> enqueue(Duration delay, Duration interval, Work work);
    void enqueueLocked(Duration due, std::shared_ptr<TaskState> task);
    bool runNextDueBy(Duration deadline);

    ManualClock& clock_;
    const std::thread::id thread_ = std::this_thread::get_id();
    mutable std::mutex mutex_;
    Duration now_{0};
    std::uint64_t nextSequence_ = 0;
    std::vector<Entry> entries_;
};

} // namespace doorwarden
