#pragma once

#include "platform/TaskRunner.h"

#include <future>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

namespace doorwarden {

// A named worker thread that runs work one piece at a time. Work runs in the order it became
// ready: posted work when it was posted, delayed work when it fell due on
// std::chrono::steady_clock; equal times in the order of the calls. A repeating task that ran
// late skips the runs it missed instead of catching up.
//
// Every call may come from any thread, the queue's own included (postDelayed() and
// postRepeating() too). Cancelled delayed work is released on the worker thread, promptly.
// Work must not throw.
//
// Destruction runs all work posted before it (and what that work posts) and the delayed work
// that was already due when it began; delayed and repeating work not yet due then is dropped
// (released on the worker), and its handles turn inactive. Then it joins the thread. Work must
// not destroy its own queue.
class SerialQueue final : public TaskRunner {
public:
    explicit SerialQueue(std::string label);
    ~SerialQueue() override;
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return label_; }

    void post(Work work) override;
    [[nodiscard]] TaskHandle postDelayed(Duration delay, Work work) override;
    [[nodiscard]] TaskHandle postRepeating(Duration interval, Work work) override;
    bool isCurrent() const override;

    // Runs `work` on the queue after everything queued before it, and returns its result
    // (or rethrows its exception). Called on the queue itself, it runs `work` at once
    // instead of waiting for itself.
    template <typename Function>
    auto sync(Function&& work) -> std::invoke_result_t<Function>
    {
        if (isCurrent()) {
            return work();
        }
        std::packaged_task<std::invoke_result_t<Function>()> task(std::forward<Function>(work));
        auto result = task.get_future();
        post([&task] { task(); });
        return result.get();
    }

private:
    struct Core;
    class DelayedTask;

    TaskHandle start(Duration delay, Duration interval, Work work);
    void run();

    const std::string label_;
    const std::shared_ptr<Core> core_; // shared with the handles, which may outlive the queue
    std::thread thread_;               // last, so that it starts after the members it uses
};

} // namespace doorwarden
