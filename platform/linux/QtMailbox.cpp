#include "platform/linux/QtMailbox.h"

namespace doorwarden {

QtMailbox::QtMailbox(QObject* parent)
    : QObject(parent)
{
}

QtMailbox::~QtMailbox() = default;

void QtMailbox::post(Work work)
{
    bool wake = false;
    {
        const std::lock_guard lock(mutex_);
        queue_.push_back(std::move(work));
        wake = !std::exchange(wakeUpPending_, true);
    }
    if (wake) {
        QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
    }
}

void QtMailbox::drain()
{
    std::deque<Work> ready;
    {
        const std::lock_guard lock(mutex_);
        ready.swap(queue_);
        wakeUpPending_ = false;
    }
    for (auto& work : ready) {
        work();
    }
}

} // namespace doorwarden
