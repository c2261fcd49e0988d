#include "platform/fake/ManualScheduler.h"

#include "platform/ThreadCheck.h"

#include <algorithm>
#include <atomic>

namespace doorwarden {

class ManualScheduler::TaskState final : public TaskHandle::State {
public:
    TaskState(Work taskWork, Duration taskInterval)
        : work(std::move(taskWork))
        , interval(taskInterval)
    {
    }

    void cancel() override { cancelled = true; }
    bool isActive() const override { return !cancelled && !done; }

    Work work; // run only by the advancing thread
    const Duration interval; // zero for one-shot work
    std::atomic<bool> cancelled{false};
    std::atomic<bool> done{false}; // a one-shot that has started, or the scheduler is gone
};

ManualScheduler::ManualScheduler(ManualClock& clock)
    : clock_(clock)
{
}

ManualScheduler::~ManualScheduler()
{
    for (const auto& entry : entries_) {
        entry.task->done = true;
    }
}

void ManualScheduler::post(Work work)
{
    enqueue(Duration::zero(), Duration::zero(), std::move(work));
}

TaskHandle ManualScheduler::postDelayed(Duration delay, Work work)
{
    DOORWARDEN_ASSERT_ON(*this);
    return TaskHandle(enqueue(delay, Duration::zero(), std::move(work)));
}

TaskHandle ManualScheduler::postRepeating(Duration interval, Work work)
{
    DOORWARDEN_ASSERT_ON(*this);
    interval = std::max(interval, kMinimumInterval);
    return TaskHandle(enqueue(interval, interval, std::move(work)));
}

bool ManualScheduler::isCurrent() const
{
    return std::this_thread::get_id() == thread_;
}

std::shared_ptr<ManualScheduler::TaskState> ManualScheduler::enqueue(Duration delay, Duration interval, Work work)
{
    auto task = std::make_shared<TaskState>(std::move(work), interval);
    std::lock_guard lock(mutex_);
    enqueueLocked(now_ + std::max(delay, Duration::zero()), task);
    return task;
}

void ManualScheduler::enqueueLocked(Duration due, std::shared_ptr<TaskState> task)
{
    entries_.push_back(Entry{due, nextSequence_++, std::move(task)});
}

void ManualScheduler::advanceBy(Duration step)
{
    DOORWARDEN_ASSERT_ON(*this);
    Duration deadline;
    {
        std::lock_guard lock(mutex_);
        deadline = now_ + std::max(step, Duration::zero());
    }
    while (runNextDueBy(deadline)) {
    }
    std::lock_guard lock(mutex_);
    clock_.advance(deadline - now_);
    now_ = deadline;
}

void ManualScheduler::runUntilIdle()
{
    advanceBy(Duration::zero());
}

bool ManualScheduler::runNextDueBy(Duration deadline)
{
    std::shared_ptr<TaskState> task;
    {
        std::lock_guard lock(mutex_);
        auto next = std::min_element(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
            return a.due != b.due ? a.due < b.due : a.sequence < b.sequence;
        });
        if (next == entries_.end() || next->due > deadline) {
            return false;
        }
        const Duration due = next->due;
        task = std::move(next->task);
        entries_.erase(next);
        if (task->cancelled) {
            return true;
        }
        clock_.advance(due - now_);
        now_ = due;
        if (task->interval > Duration::zero()) {
            enqueueLocked(due + task->interval, task);
        } else {
            task->done = true;
        }
    }
    task->work();
    return true;
}

std::size_t ManualScheduler::pendingCount() const
{
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count_if(entries_.begin(), entries_.end(), [](const Entry& entry) {
        return !entry.task->cancelled;
    }));
}

} // namespace doorwarden
