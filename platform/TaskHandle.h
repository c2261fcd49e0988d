#pragma once

#include <memory>

namespace doorwarden {

// The handle of delayed or repeating work given to a TaskRunner. Owning the handle keeps the
// work scheduled; cancelling it, assigning another handle over it, or destroying it stops the
// work, and what that guarantees depends on the thread:
// - on the runner's own thread, the work never runs again (cancelled from inside its own run,
//   that run completes);
// - on any other thread, no run starts after the call returns; a run that has already started
//   may still be in progress, and completes.
// One handle is used by one thread at a time; it may be handed to another thread.
class TaskHandle {
public:
    // What a runner keeps for one piece of work. Both calls are made from any thread.
    class State {
    public:
        virtual ~State() = default;
        virtual void cancel() = 0;
        // True while the work may still run: not cancelled, a one-shot not yet started, and its
        // runner not gone.
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
    // Off the runner's thread, a reading that may change at once.
    bool isActive() const;

private:
    std::shared_ptr<State> state_;
};

} // namespace doorwarden
