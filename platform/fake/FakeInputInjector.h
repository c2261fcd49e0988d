#pragma once

#include "platform/InputInjector.h"

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace doorwarden {

// An input injector that records every event it sends, in order, and what it holds pressed.
// All of it lives in a State shared with the test, so it stays readable after the session
// destroyed the injector (whose last events are then the releases destruction sends).
// Not thread-safe (see FakeScreenCapturer).
class FakeInputInjector final : public InputInjector {
public:
    // One event as it reached the machine.
    struct Event {
        enum class Kind { move, buttonPress, buttonRelease, wheel, keyPress, keyRelease };

        static Event move(ScreenPoint position) { return {Kind::move, position, {}, {}, 0, {}}; }
        static Event press(PointerButton button) { return {Kind::buttonPress, {}, button, {}, 0, {}}; }
        static Event release(PointerButton button) { return {Kind::buttonRelease, {}, button, {}, 0, {}}; }
        static Event wheel(WheelAxis axis, int steps) { return {Kind::wheel, {}, {}, axis, steps, {}}; }
        static Event pressKey(std::string keyName) { return {Kind::keyPress, {}, {}, {}, 0, std::move(keyName)}; }
        static Event releaseKey(std::string keyName) { return {Kind::keyRelease, {}, {}, {}, 0, std::move(keyName)}; }

        Kind kind;
        ScreenPoint position; // move
        PointerButton button; // buttonPress, buttonRelease
        WheelAxis axis;       // wheel
        int steps;            // wheel
        std::string keyName;  // keyPress, keyRelease

        bool operator==(const Event&) const = default;
        // For test failure messages, e.g. "press key AC01".
        friend std::ostream& operator<<(std::ostream& out, const Event& event);
    };

    struct State {
        std::vector<Event> events; // every event sent, releases by releaseAll() included
        std::vector<Event> held;   // presses not yet released, oldest first
        int releaseAllCalls = 0;
        ScreenRect monitor{0, 0, 1920, 1080}; // what monitor() answers
        bool alive = true; // false once the injector is destroyed
    };

    FakeInputInjector();
    // Releases what is held, as the interface promises.
    ~FakeInputInjector() override;

    ScreenRect monitor() override { return state_->monitor; }
    void movePointer(ScreenPoint position) override;
    void pressButton(PointerButton button) override;
    void releaseButton(PointerButton button) override;
    void scrollWheel(WheelAxis axis, int steps) override;
    void pressKey(std::string_view keyName) override;
    void releaseKey(std::string_view keyName) override;
    // Releases the held buttons and keys, the last pressed first.
    void releaseAll() override;

    State& state() { return *state_; }
    const std::shared_ptr<State>& sharedState() const { return state_; }

private:
    void press(Event event);
    void release(Event event, const Event& pressed);
    void releaseHeld();

    std::shared_ptr<State> state_;
};

} // namespace doorwarden
