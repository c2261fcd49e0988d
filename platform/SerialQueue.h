#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>

namespace doorwarden {

// A named worker thread that runs work one piece at a time, in the order it was given.
// async() and sync() may be called from any thread. Work must not throw from async().
// Destruction runs all work queued before it (and what that work queues), then joins the
// thread; work must not destroy its own queue.
class SerialQueue {
public:
    explicit SerialQueue(std::string label);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return label_; }

    // True on the queue's own thread.
    bool isCurrent() const;

    // Queues `work` and returns at once.
    void async(std::function<void()> work);

    // Runs `work` on the queue after everything queued before it, and returns its result
    // (or rethrows its exception). Called on the queue itself, it runs `work` at once
    // instead of waiting for itself.
    template <typename Work>
    auto sync(Work&& work) -> std::invoke_result_t<Work>
    {
        if (isCurrent()) {
            return work();
        }
        std::packaged_task<std::invoke_result_t<Work>()> task(std::forward<Work>(work));
        auto result = task.get_future();
        async([&task] { task(); });
        return result.get();
    }

private:
    void run();

    const std::string label_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> pending_;
    bool stopping_ = false;
    std::thread thread_; // last, so that it starts after the members it uses
};

} // namespace doorwarden
