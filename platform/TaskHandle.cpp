#include "platform/TaskHandle.h"

#include <utility>

namespace doorwarden {

TaskHandle::TaskHandle(std::shared_ptr<State> state)
    : state_(std::move(state))
{
}

TaskHandle& TaskHandle::operator=(TaskHandle&& other) noexcept
{
    if (this != &other) {
        cancel();
        state_ = std::move(other.state_);
    }
    return *this;
}

TaskHandle::~TaskHandle()
{
    cancel();
}

void TaskHandle::cancel()
{
    if (state_) {
        state_->cancel();
        state_.reset();
    }
}

bool TaskHandle::isActive() const
{
    return state_ && state_->isActive();
}

} // namespace doorwarden
