#include "platform/linux/QtScheduler.h"

#include <QMetaObject>
#include <QPointer>
#include <QTimer>

#include <algorithm>

namespace doorwarden {

class QtScheduler::TaskState final : public TaskHandle::State,
                                     public std::enable_shared_from_this<TaskState> {
public:
    TaskState(QObject* context, bool repeating, Work work)
        : work_(std::make_shared<const Work>(std::move(work)))
        , timer_(new QTimer(context))
    {
        timer_->setSingleShot(!repeating);
        timer_->setTimerType(Qt::PreciseTimer);
    }

    ~TaskState() override
    {
        // The timer may be emitting the very signal that led here.
        if (timer_) {
            timer_->stop();
            timer_->deleteLater();
        }
    }

    void start(std::chrono::milliseconds interval)
    {
        QObject::connect(timer_, &QTimer::timeout, timer_, [weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                self->fire();
            }
        });
        timer_->start(interval);
    }

    void cancel() override
    {
        cancelled_ = true;
        if (timer_) {
            timer_->stop();
        }
    }

    bool isActive() const override { return !cancelled_ && !done_ && timer_; }

private:
    void fire()
    {
        if (cancelled_) {
            return;
        }
        if (timer_->isSingleShot()) {
            done_ = true;
        }
        // Keep the work alive even if running it releases the last handle.
        const auto work = work_;
        (*work)();
    }

    const std::shared_ptr<const Work> work_;
    QPointer<QTimer> timer_; // owned by the scheduler's context; null once the scheduler is gone
    bool cancelled_ = false;
    bool done_ = false;
};

QtScheduler::QtScheduler() = default;

QtScheduler::~QtScheduler() = default;

TaskHandle QtScheduler::schedule(Duration delay, Work work)
{
    return start(std::max(delay, Duration::zero()), false, std::move(work));
}

TaskHandle QtScheduler::scheduleRepeating(Duration interval, Work work)
{
    return start(std::max(interval, kMinimumInterval), true, std::move(work));
}

TaskHandle QtScheduler::start(Duration interval, bool repeating, Work work)
{
    auto state = std::make_shared<TaskState>(&context_, repeating, std::move(work));
    // QTimer counts whole milliseconds: round up so that work never runs early.
    state->start(std::chrono::ceil<std::chrono::milliseconds>(interval));
    return TaskHandle(state);
}

void QtScheduler::post(Work work)
{
    mailbox_.post(std::move(work));
}

} // namespace doorwarden
