#include "platform/fake/FakeSystemAudioCapturer.h"

#include <stdexcept>

namespace doorwarden {

bool FakeSystemAudioCapturer::State::deliver(const AudioBuffer& buffer)
{
    if (!alive || !running || !handler_) {
        return false;
    }
    ++delivered;
    // A copy: the handler may stop the capturer, which drops handler_ while it runs.
    const Handler handler = handler_;
    handler(buffer);
    return true;
}

FakeSystemAudioCapturer::FakeSystemAudioCapturer()
    : FakeSystemAudioCapturer(State{})
{
}

FakeSystemAudioCapturer::FakeSystemAudioCapturer(State initial)
    : state_(std::make_shared<State>(std::move(initial)))
{
    state_->handler_ = nullptr; // a prepared state carries no handler
}

FakeSystemAudioCapturer::~FakeSystemAudioCapturer()
{
    state_->handler_ = nullptr;
    state_->alive = false;
}

StartResult FakeSystemAudioCapturer::start(Handler handler)
{
    if (state_->running) {
        throw std::logic_error("FakeSystemAudioCapturer started while running");
    }
    ++state_->startCalls;
    if (state_->startFailure) {
        return StartResult::failure(*state_->startFailure);
    }
    state_->handler_ = std::move(handler);
    state_->running = true;
    return StartResult::success();
}

void FakeSystemAudioCapturer::stop()
{
    ++state_->stopCalls;
    state_->running = false;
    state_->handler_ = nullptr;
}

} // namespace doorwarden
