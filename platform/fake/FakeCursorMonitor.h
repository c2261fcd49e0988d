#pragma once

#include "platform/CursorMonitor.h"

#include <memory>

namespace doorwarden {

// A cursor monitor that reports the pointer the test sets and counts how often it copied a
// shape. All of it lives in a State shared with the test, so it stays readable after the
// session destroyed the monitor. Not thread-safe (see FakeScreenCapturer).
class FakeCursorMonitor final : public CursorMonitor {
public:
    class State {
    public:
        // Set by the test.
        std::optional<ScreenPoint> position;
        bool visible = true;

        // Recorded.
        int imageCopies = 0; // updateCursorImage() calls that copied a shape
        bool alive = true;   // false once the monitor is destroyed

        // The pointer takes the shape `image` (its serial is ignored): it gets a new serial, as
        // every new shape does.
        void showCursorImage(CursorImage image);
        // The current shape; serial 0 before the first showCursorImage().
        const CursorImage& cursorImage() const { return image_; }

    private:
        CursorImage image_;
    };

    // Starts from `initial` (a FakeSessionEnvironment passes what the test prepared).
    FakeCursorMonitor();
    explicit FakeCursorMonitor(State initial);
    ~FakeCursorMonitor() override;

    std::optional<ScreenPoint> pointerPosition() override;
    bool updateCursorImage(CursorImage& image) override;
    bool isCursorVisible() override;

    State& state() { return *state_; }
    const std::shared_ptr<State>& sharedState() const { return state_; }

private:
    std::shared_ptr<State> state_;
};

} // namespace doorwarden
