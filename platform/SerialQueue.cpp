#include "platform/SerialQueue.h"

#include <pthread.h>

namespace doorwarden {

namespace {

// Thread names hold 15 characters: keep the label's most telling part, its last word.
std::string threadNameFor(const std::string& label)
{
    const auto dot = label.rfind('.');
    std::string name = dot == std::string::npos ? label : label.substr(dot + 1);
    return name.substr(0, 15);
}

} // namespace

SerialQueue::SerialQueue(std::string label)
    : label_(std::move(label))
    , thread_([this] { run(); })
{
}

SerialQueue::~SerialQueue()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

bool SerialQueue::isCurrent() const
{
    return std::this_thread::get_id() == thread_.get_id();
}

void SerialQueue::async(std::function<void()> work)
{
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(std::move(work));
    }
    wake_.notify_one();
}

void SerialQueue::run()
{
    pthread_setname_np(pthread_self(), threadNameFor(label_).c_str());
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
        if (pending_.empty()) {
            return; // stopping, and everything queued has run
        }
        auto work = std::move(pending_.front());
        pending_.pop_front();
        lock.unlock();
        work();
        work = nullptr; // release captures outside the lock, before waiting again
        lock.lock();
    }
}

} // namespace doorwarden
