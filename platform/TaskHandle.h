#pragma once

#include <memory>

namespace doorwarden {

// The handle of work given to a Scheduler. Owning the handle keeps the work scheduled:
// cancelling it, assigning another handle over it, or destroying it guarantees that the work
// never runs again (if it is running at that moment, the current run completes).
// Main thread only, like the scheduler that made it.
class TaskHandle {
public:
    // What a scheduler keeps for one piece of work.
    class State {
    public:
        virtual ~State() = default;
        virtual void cancel() = 0;
        // True while the work may still run: not cancelled, and a one-shot not yet run.
        virtual bool isActive() const = 0;
    };

    TaskHandle() = default;
    explicit TaskHandle(std::shared_ptr<State> state);
    TaskHandle(TaskHandle&& other) noexcept = default;
    TaskHandle& operator=(TaskHandle&& other) noexcept;
    TaskHandle(const TaskHandle&) = delete;
    TaskHandle& operator=(const TaskHandle&) = delete;
    ~TaskHandle();

    void cancel();
    bool isActive() const;

private:
    std::shared_ptr<State> state_;
};

} // namespace doorwarden
