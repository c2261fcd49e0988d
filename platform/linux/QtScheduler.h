#pragma once

#include "platform/Scheduler.h"
#include "platform/linux/QtMailbox.h"

#include <QObject>

namespace doorwarden {

// The production scheduler: work runs on the Qt event loop of the thread that created the
// scheduler (the main thread). postDelayed() and postRepeating() are calls of that thread;
// post() and cancelling a handle may come from any thread. The scheduler must outlive every
// thread that posts to it; work posted or scheduled but not yet run when it is destroyed is
// dropped.
class QtScheduler final : public Scheduler {
public:
    QtScheduler();
    ~QtScheduler() override;

    void post(Work work) override;
    [[nodiscard]] TaskHandle postDelayed(Duration delay, Work work) override;
    [[nodiscard]] TaskHandle postRepeating(Duration interval, Work work) override;
    bool isCurrent() const override;

private:
    class TaskState;

    TaskHandle start(Duration interval, bool repeating, Work work);

    QObject context_;   // parent of the timers; its thread is the scheduler's
    QtMailbox mailbox_; // posted work, from any thread
};

} // namespace doorwarden
