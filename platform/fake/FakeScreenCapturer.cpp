#include "platform/fake/FakeScreenCapturer.h"

#include <stdexcept>

namespace doorwarden {

void FakeScreenCapturer::State::showFrame(ScreenFrame newFrame)
{
    frame = std::move(newFrame);
    damaged = true;
}

void FakeScreenCapturer::State::changeDisplayLayout(ScreenRect newMonitor)
{
    monitor = newMonitor;
    ++displayLayoutSerial;
    damaged = true;
}

FakeScreenCapturer::FakeScreenCapturer()
    : FakeScreenCapturer(State{})
{
}

FakeScreenCapturer::FakeScreenCapturer(State initial)
    : state_(std::make_shared<State>(std::move(initial)))
{
}

FakeScreenCapturer::~FakeScreenCapturer()
{
    state_->alive = false;
}

StartResult FakeScreenCapturer::start()
{
    if (state_->running) {
        throw std::logic_error("FakeScreenCapturer started while running");
    }
    ++state_->startCalls;
    if (state_->startFailure) {
        return StartResult::failure(*state_->startFailure);
    }
    state_->running = true;
    state_->damaged = true;
    return StartResult::success();
}

void FakeScreenCapturer::stop()
{
    ++state_->stopCalls;
    state_->running = false;
}

ScreenRect FakeScreenCapturer::monitorRect()
{
    return state_->running ? state_->monitor : ScreenRect{};
}

bool FakeScreenCapturer::hasDamage()
{
    return state_->running && state_->damaged;
}

bool FakeScreenCapturer::grab(ScreenFrameView& frame)
{
    if (!state_->running || state_->failGrabs) {
        return false;
    }
    frame = state_->frame;
    state_->damaged = false;
    ++state_->grabs;
    return true;
}

std::uint64_t FakeScreenCapturer::displayLayoutSerial()
{
    return state_->displayLayoutSerial;
}

} // namespace doorwarden
