#include "platform/SerialQueue.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <queue>
#include <type_traits>
#include <utility>
#include <vector>

namespace doorwarden {

namespace {

using SteadyClock = std::chrono::steady_clock;
using Time = SteadyClock::time_point;

// Thread names hold 15 characters: keep the label's most telling part, its last word.
std::string threadNameFor(const std::string& label)
{
    const auto dot = label.rfind('.');
    std::string name = dot == std::string::npos ? label : label.substr(dot + 1);
    return name.substr(0, 15);
}

// `delay` after `from`, kept within the clock's range.
Time dueAfter(Time from, TaskRunner::Duration delay)
{
    delay = std::max(delay, TaskRunner::Duration::zero());
    return delay < Time::max() - from ? from + delay : Time::max();
}

// The next run of repeating work that was due at `due`: one interval later or, when that has
// passed already, the first time on the same rhythm that is still ahead.
Time nextDue(Time due, TaskRunner::Duration interval, Time now)
{
    Time next = dueAfter(due, interval);
    if (next <= now) {
        next += ((now - next) / interval + 1) * interval;
    }
    return next;
}

} // namespace

// What the worker and the handles of delayed work share; it outlives the queue while a handle
// holds on to it. Everything in it is guarded by `mutex`.
struct SerialQueue::Core {
    struct Posted {
        Task work;
        Time at;
        std::uint64_t sequence;
    };
    struct Timer {
        Time due;
        std::uint64_t sequence;
        std::shared_ptr<DelayedTask> task;
    };
    struct Later {
        bool operator()(const Timer& a, const Timer& b) const
        {
            return a.due != b.due ? a.due > b.due : a.sequence > b.sequence;
        }
    };

    static bool before(const Timer& timer, const Posted& posted)
    {
        return timer.due != posted.at ? timer.due < posted.at : timer.sequence < posted.sequence;
    }

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Posted> posted;
    std::priority_queue<Timer, std::vector<Timer>, Later> timers; // cancelled ones included
    std::vector<Task> released; // work of cancelled delayed tasks, for the worker to destroy
    std::uint64_t nextSequence = 0;
    bool stopping = false;
    Time stoppedAt; // when destruction began
};

class SerialQueue::DelayedTask final : public TaskHandle::State {
public:
    DelayedTask(std::weak_ptr<Core> core, Work taskWork, Duration taskInterval)
        : work(std::move(taskWork))
        , interval(taskInterval)
        , core_(std::move(core))
    {
    }

    void cancel() override
    {
        const auto core = core_.lock();
        if (!core) {
            return; // the queue is gone, and the work with it
        }
        {
            const std::lock_guard lock(core->mutex);
            over = true;
            if (!work) {
                return; // running: the worker releases it when the run ends
            }
            core->released.push_back(std::move(work));
        }
        core->wake.notify_one();
    }

    bool isActive() const override
    {
        const auto core = core_.lock();
        if (!core) {
            return false;
        }
        const std::lock_guard lock(core->mutex);
        return !over;
    }

    // Guarded by the core's mutex.
    Work work;         // empty while it runs, and once it is over
    bool over = false; // cancelled, a one-shot that has started, or dropped with the queue
    const Duration interval; // zero for one-shot work

private:
    const std::weak_ptr<Core> core_;
};

SerialQueue::SerialQueue(std::string label)
    : label_(std::move(label))
    , core_(std::make_shared<Core>())
    , thread_([this] { run(); })
{
}

SerialQueue::~SerialQueue()
{
    {
        const std::lock_guard lock(core_->mutex);
        core_->stopping = true;
        core_->stoppedAt = SteadyClock::now();
    }
    core_->wake.notify_one();
    thread_.join();
}

bool SerialQueue::isCurrent() const
{
    return std::this_thread::get_id() == thread_.get_id();
}

void SerialQueue::post(Work work)
{
    {
        const std::lock_guard lock(core_->mutex);
        core_->posted.push_back(Core::Posted{std::move(work), SteadyClock::now(), core_->nextSequence++});
    }
    core_->wake.notify_one();
}

TaskHandle SerialQueue::postDelayed(Duration delay, Work work)
{
    return start(delay, Duration::zero(), std::move(work));
}

TaskHandle SerialQueue::postRepeating(Duration interval, Work work)
{
    interval = std::max(interval, kMinimumInterval);
    return start(interval, interval, std::move(work));
}

TaskHandle SerialQueue::start(Duration delay, Duration interval, Work work)
{
    auto task = std::make_shared<DelayedTask>(core_, std::move(work), interval);
    bool earliest = false;
    {
        const std::lock_guard lock(core_->mutex);
        core_->timers.push(Core::Timer{dueAfter(SteadyClock::now(), delay), core_->nextSequence++, task});
        earliest = core_->timers.top().task == task;
    }
    if (earliest) {
        core_->wake.notify_one(); // the worker may be waiting for a later time
    }
    return TaskHandle(std::move(task));
}

void SerialQueue::run()
{
    pthread_setname_np(pthread_self(), threadNameFor(label_).c_str());
    Core& core = *core_;
    std::unique_lock lock(core.mutex);
    // Work is run and destroyed (its captures released) outside the lock.
    const auto release = [&lock](auto& doomed) {
        lock.unlock();
        doomed = std::remove_reference_t<decltype(doomed)>();
        lock.lock();
    };
    for (;;) {
        if (!core.released.empty()) {
            auto released = std::exchange(core.released, {});
            release(released);
            continue;
        }
        const Time horizon = core.stopping ? core.stoppedAt : SteadyClock::now();
        const bool timerDue = !core.timers.empty() && core.timers.top().due <= horizon;
        if (timerDue && (core.posted.empty() || Core::before(core.timers.top(), core.posted.front()))) {
            const Core::Timer timer = core.timers.top();
            core.timers.pop();
            DelayedTask& task = *timer.task;
            if (task.over) {
                continue; // cancelled; its work went to `released`
            }
            Task work = std::move(task.work);
            const bool repeating = task.interval > Duration::zero();
            task.over = !repeating;
            lock.unlock();
            work();
            lock.lock();
            if (repeating && !task.over && !core.stopping) {
                task.work = std::move(work);
                core.timers.push(
                    Core::Timer{nextDue(timer.due, task.interval, SteadyClock::now()), core.nextSequence++, timer.task});
            } else {
                task.over = true;
                release(work);
            }
        } else if (!core.posted.empty()) {
            Task work = std::move(core.posted.front().work);
            core.posted.pop_front();
            lock.unlock();
            work();
            work = {};
            lock.lock();
        } else if (core.stopping) {
            break; // everything posted has run
        } else if (core.timers.empty()) {
            core.wake.wait(lock);
        } else {
            // A copy: the wait reads the deadline again after waking, and the timer may have
            // moved (a post while waiting reallocates the heap).
            const Time due = core.timers.top().due;
            core.wake.wait_until(lock, due);
        }
    }
    // Delayed and repeating work not yet due is dropped.
    std::vector<Task> dropped;
    while (!core.timers.empty()) {
        DelayedTask& task = *core.timers.top().task;
        task.over = true;
        if (task.work) {
            dropped.push_back(std::move(task.work));
        }
        core.timers.pop();
    }
    release(dropped);
}

} // namespace doorwarden
