#pragma once

#include "platform/Scheduler.h"
#include "platform/fake/ManualClock.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace doorwarden {

// A scheduler on virtual time for tests. Nothing runs until the test advances time; then
// each piece of due work runs with the clock set to its due time, in order of due time and,
// for equal times, of scheduling. Work scheduled while advancing runs in the same advance
// when it falls due within it. post() may be called from any thread.
class ManualScheduler final : public Scheduler {
public:
    explicit ManualScheduler(ManualClock& clock);
    ~ManualScheduler() override;

    [[nodiscard]] TaskHandle schedule(Duration delay, Work work) override;
    [[nodiscard]] TaskHandle scheduleRepeating(Duration interval, Work work) override;
    void post(Work work) override;

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
    mutable std::mutex mutex_;
    Duration now_{0};
    std::uint64_t nextSequence_ = 0;
    std::vector<Entry> entries_;
};

} // namespace doorwarden
