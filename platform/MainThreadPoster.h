#pragma once

#include "platform/Scheduler.h"
#include "platform/WeakGuard.h"

#include <QPointer>

#include <utility>

namespace doorwarden {

// Hands work for a main-thread object from any thread to the main thread, where `work(owner)`
// runs only if the owner still exists. Made on the main thread: the calling thread reads the
// guard and the scheduler, never the owner.
template <typename Owner>
class MainThreadPoster {
public:
    MainThreadPoster(Owner* owner, Scheduler& scheduler)
        : owner_(owner)
        , scheduler_(&scheduler)
    {
    }

    template <typename Work>
    void operator()(Work work) const
    {
        scheduler_->post(weakGuarded(owner_, std::move(work)));
    }

private:
    QPointer<Owner> owner_;
    Scheduler* scheduler_;
};

} // namespace doorwarden
