#include "platform/fake/FakeInputInjector.h"

#include <algorithm>
#include <ostream>

namespace doorwarden {

namespace {

const char* buttonName(PointerButton button)
{
    switch (button) {
    case PointerButton::left:
        return "left";
    case PointerButton::middle:
        return "middle";
    case PointerButton::right:
        return "right";
    }
    return "?";
}

} // namespace

std::ostream& operator<<(std::ostream& out, const FakeInputInjector::Event& event)
{
    using Kind = FakeInputInjector::Event::Kind;
    switch (event.kind) {
    case Kind::move:
        return out << "move to " << event.position.x << "," << event.position.y;
    case Kind::buttonPress:
        return out << "press " << buttonName(event.button);
    case Kind::buttonRelease:
        return out << "release " << buttonName(event.button);
    case Kind::wheel:
        return out << "wheel " << (event.axis == WheelAxis::vertical ? "vertical " : "horizontal ") << event.steps;
    case Kind::keyPress:
        return out << "press key " << event.keyName;
    case Kind::keyRelease:
        return out << "release key " << event.keyName;
    }
    return out << "?";
}

FakeInputInjector::FakeInputInjector()
    : state_(std::make_shared<State>())
{
}

FakeInputInjector::~FakeInputInjector()
{
    releaseHeld();
    state_->alive = false;
}

void FakeInputInjector::movePointer(ScreenPoint position)
{
    state_->events.push_back(Event::move(position));
}

void FakeInputInjector::pressButton(PointerButton button)
{
    press(Event::press(button));
}

void FakeInputInjector::releaseButton(PointerButton button)
{
    release(Event::release(button), Event::press(button));
}

void FakeInputInjector::scrollWheel(WheelAxis axis, int steps)
{
    if (steps != 0) {
        state_->events.push_back(Event::wheel(axis, steps));
    }
}

void FakeInputInjector::pressKey(std::string_view keyName)
{
    press(Event::pressKey(std::string(keyName)));
}

void FakeInputInjector::releaseKey(std::string_view keyName)
{
    release(Event::releaseKey(std::string(keyName)), Event::pressKey(std::string(keyName)));
}

void FakeInputInjector::releaseAll()
{
    ++state_->releaseAllCalls;
    releaseHeld();
}

void FakeInputInjector::press(Event event)
{
    // A second press of a held button or key is sent, but one release frees it, as on X.
    if (std::find(state_->held.begin(), state_->held.end(), event) == state_->held.end()) {
        state_->held.push_back(event);
    }
    state_->events.push_back(std::move(event));
}

void FakeInputInjector::release(Event event, const Event& pressed)
{
    std::erase(state_->held, pressed);
    state_->events.push_back(std::move(event));
}

void FakeInputInjector::releaseHeld()
{
    while (!state_->held.empty()) {
        const Event pressed = state_->held.back();
        state_->held.pop_back();
        state_->events.push_back(pressed.kind == Event::Kind::buttonPress ? Event::release(pressed.button)
                                                                          : Event::releaseKey(pressed.keyName));
    }
}

} // namespace doorwarden
