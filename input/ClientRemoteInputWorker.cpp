#include "input/ClientRemoteInputWorker.h"

#include "input/ViewerKeys.h"

#include <QString>

#include <algorithm>
#include <cmath>

namespace doorwarden {

namespace {

// A normalised coordinate on a side of `length` pixels: clamped to the first and the last pixel
// (1.0 would be one past the monitor, on its neighbour).
int pixelAlong(double normalised, int length)
{
    const double clamped = std::clamp(normalised, 0.0, 1.0);
    return std::min(static_cast<int>(std::floor(clamped * length)), length - 1);
}

} // namespace

ClientRemoteInputWorker::ClientRemoteInputWorker(ClientDiagnosticLog& log, std::unique_ptr<InputInjector> injector)
    : log_(log)
    , injector_(std::move(injector))
{
}

ClientRemoteInputWorker::~ClientRemoteInputWorker()
{
    releaseEverything();
}

bool ClientRemoteInputWorker::handle(const InputEvent& input)
{
    if (!enabled_) {
        return false;
    }
    switch (input.kind) {
    case InputEvent::Kind::move:
        moveTo(input);
        return true;
    case InputEvent::Kind::buttonDown:
        moveTo(input);
        injector_->pressButton(input.button);
        return true;
    case InputEvent::Kind::buttonUp:
        moveTo(input);
        injector_->releaseButton(input.button); // even for a button never pressed here
        return true;
    case InputEvent::Kind::wheel: {
        // Positive deltas turn the wheel away from the user, which scrolls up.
        const std::int64_t lines = std::clamp<std::int64_t>(input.delta / 120, -kMaximumWheelLines, kMaximumWheelLines);
        injector_->scrollWheel(WheelAxis::vertical, static_cast<int>(-lines));
        return false;
    }
    case InputEvent::Kind::keyDown:
    case InputEvent::Kind::keyUp:
        key(input, input.kind == InputEvent::Kind::keyDown);
        return false;
    }
    return false;
}

void ClientRemoteInputWorker::setEnabled(bool enabled)
{
    enabled_ = enabled;
    if (!enabled) {
        releaseEverything();
    }
}

void ClientRemoteInputWorker::reset()
{
    releaseEverything();
}

std::optional<ScreenPoint> ClientRemoteInputWorker::pointFor(double x, double y)
{
    const ScreenRect monitor = injector_->monitor();
    if (monitor.isEmpty() || !std::isfinite(x) || !std::isfinite(y)) {
        return std::nullopt;
    }
    return ScreenPoint{monitor.x + pixelAlong(x, monitor.width), monitor.y + pixelAlong(y, monitor.height)};
}

void ClientRemoteInputWorker::moveTo(const InputEvent& input)
{
    // A point that is not a number moves nothing; a button press or release still happens
    // where the pointer is.
    if (const auto point = pointFor(input.x, input.y)) {
        injector_->movePointer(*point);
    }
}

void ClientRemoteInputWorker::key(const InputEvent& input, bool down)
{
    const auto name = viewerKeys::keyName(input.keyCode);
    if (!name) {
        dropOnce("key_code", std::to_string(input.keyCode));
        return;
    }
    holdModifier(viewerKeys::kShift, input.shift);
    holdModifier(viewerKeys::kControl, input.control);
    holdModifier(viewerKeys::kAlt, input.alt);
    if (down) {
        pressedKeys_.emplace(*name);
        injector_->pressKey(*name);
        return;
    }
    injector_->releaseKey(*name);
    if (const auto held = pressedKeys_.find(*name); held != pressedKeys_.end()) {
        pressedKeys_.erase(held);
    }
    // The flags belong to the keystroke: once no key is down, the customer's keyboard is theirs.
    if (pressedKeys_.empty()) {
        for (const auto& modifier : pressedModifiers_) {
            injector_->releaseKey(modifier);
        }
        pressedModifiers_.clear();
    }
}

void ClientRemoteInputWorker::holdModifier(std::string_view name, bool wanted)
{
    const auto held = pressedModifiers_.find(name);
    if (wanted && held == pressedModifiers_.end()) {
        pressedModifiers_.emplace(name);
        injector_->pressKey(name);
    } else if (!wanted && held != pressedModifiers_.end()) {
        pressedModifiers_.erase(held);
        injector_->releaseKey(name);
    }
}

void ClientRemoteInputWorker::releaseEverything()
{
    injector_->releaseAll();
    pressedKeys_.clear();
    pressedModifiers_.clear();
}

void ClientRemoteInputWorker::dropOnce(const std::string& kind, const std::string& value)
{
    // Once per kind: a viewer cycling through values would otherwise fill the log.
    if (reportedDrops_.insert(kind).second) {
        log_.log("INPUT", "dropped " + kind + '=' + value.substr(0, 64));
    }
}

} // namespace doorwarden
