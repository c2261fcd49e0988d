#include "platform/linux/QtScheduler.h"

#include "platform/ThreadCheck.h"

#include <QPointer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>

namespace doorwarden {

// One piece of delayed or repeating work and its timer. The timer belongs to the scheduler's
// thread and is touched only there: cancelled or released on another thread, the task is only
// marked, and its timer removes itself the next time it fires.
class QtScheduler::TaskState final : public TaskHandle::State,
                                     public std::enable_shared_from_this<TaskState> {
public:
    TaskState(QObject* context, bool repeating, Work work)
        : work_(std::make_shared<Work>(std::move(work)))
        , timer_(new QTimer(context))
        , thread_(context->thread())
        , repeating_(repeating)
    {
        timer_->setSingleShot(!repeating);
        timer_->setTimerType(Qt::PreciseTimer);
    }

    ~TaskState() override
    {
        // The timer may be emitting the very signal that led here.
        if (onTimerThread() && timer_) {
            timer_->stop();
            timer_->deleteLater();
        }
    }

    void start(std::chrono::milliseconds interval)
    {
        QTimer* const timer = timer_;
        QObject::connect(timer, &QTimer::timeout, timer, [weak = weak_from_this(), timer] {
            const auto self = weak.lock();
            const bool runs = self && !self->cancelled_;
            if (!runs || !self->repeating_) {
                // Nothing more for this timer to do; it goes after this signal.
                timer->stop();
                timer->deleteLater();
            }
            if (runs) {
                self->fire();
            }
        });
        // The scheduler's destruction takes its timers along: the work will not run.
        QObject::connect(timer, &QObject::destroyed, [weak = weak_from_this()] {
            if (const auto self = weak.lock()) {
                self->timerGone_ = true;
            }
        });
        timer->start(interval);
    }

    void cancel() override
    {
        cancelled_ = true;
        if (onTimerThread() && timer_) {
            timer_->stop();
        }
    }

    bool isActive() const override { return !cancelled_ && !done_ && !timerGone_; }

private:
    bool onTimerThread() const { return QThread::currentThread() == thread_; }

    void fire()
    {
        if (!repeating_) {
            done_ = true;
        }
        // Keep the work alive even if running it releases the last handle.
        const auto work = work_;
        (*work)();
    }

    const std::shared_ptr<Work> work_;
    QPointer<QTimer> timer_; // owned by the scheduler's context; touched only on its thread
    QThread* const thread_;
    const bool repeating_;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> done_{false};
    std::atomic<bool> timerGone_{false};
};

QtScheduler::QtScheduler() = default;

QtScheduler::~QtScheduler() = default;

void QtScheduler::post(Work work)
{
    mailbox_.post(std::move(work));
}

TaskHandle QtScheduler::postDelayed(Duration delay, Work work)
{
    DOORWARDEN_ASSERT_ON(*this);
    return start(std::max(delay, Duration::zero()), false, std::move(work));
}

TaskHandle QtScheduler::postRepeating(Duration interval, Work work)
{
    DOORWARDEN_ASSERT_ON(*this);
    return start(std::max(interval, kMinimumInterval), true, std::move(work));
}

bool QtScheduler::isCurrent() const
{
    return QThread::currentThread() == context_.thread();
}

TaskHandle QtScheduler::start(Duration interval, bool repeating, Work work)
{
    auto state = std::make_shared<TaskState>(&context_, repeating, std::move(work));
    // QTimer counts whole milliseconds: round up so that work never runs early.
    state->start(std::chrono::ceil<std::chrono::milliseconds>(interval));
    return TaskHandle(state);
}

} // namespace doorwarden
