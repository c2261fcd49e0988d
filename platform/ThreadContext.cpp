#include "platform/ThreadContext.h"

#include "platform/SerialQueue.h"
#include "platform/ThreadCheck.h"
#include "platform/WireCompatibility.h"

namespace doorwarden {

namespace {

using Thread = ThreadContext::Thread;

constexpr std::size_t indexOf(Thread thread)
{
    return static_cast<std::size_t>(thread);
}

// By Thread (see WireCompatibility.h).
constexpr const auto& kLabels = wire::kThreadLabels;
static_assert(kLabels.size() == ThreadContext::kThreadCount);

// The workers, in the order destruction stops them: those that hand work on before those
// they hand it to (capture feeds encode; frames and packets end up on the direct transport).
constexpr std::array kWorkersInStopOrder = {Thread::capture, Thread::encode, Thread::audio, Thread::input,
                                            Thread::direct};
static_assert(kWorkersInStopOrder.size() + 1 == ThreadContext::kThreadCount);

} // namespace

ThreadContext::ThreadContext(Scheduler& main)
    : ThreadContext(main, nullptr)
{
}

ThreadContext ThreadContext::withWorkersOn(Scheduler& main, TaskRunner& workers)
{
    return ThreadContext(main, &workers);
}

ThreadContext::ThreadContext(Scheduler& main, TaskRunner* workers)
    : main_(main)
{
    DOORWARDEN_ASSERT_ON(main_);
    runners_[indexOf(Thread::main)] = &main_;
    for (const Thread thread : kWorkersInStopOrder) {
        auto& queue = queues_[indexOf(thread)];
        if (!workers) {
            queue = std::make_unique<SerialQueue>(label(thread));
        }
        runners_[indexOf(thread)] = workers ? workers : queue.get();
    }
}

ThreadContext::~ThreadContext()
{
    DOORWARDEN_ASSERT_ON(main_);
    for (const Thread thread : kWorkersInStopOrder) {
        queues_[indexOf(thread)].reset();
    }
}

TaskRunner& ThreadContext::runner(Thread thread) const
{
    return *runners_[indexOf(thread)];
}

const char* ThreadContext::label(Thread thread)
{
    return kLabels[indexOf(thread)];
}

} // namespace doorwarden
