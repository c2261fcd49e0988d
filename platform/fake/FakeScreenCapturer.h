#pragma once

#include "platform/ScreenCapturer.h"
#include "platform/ScreenFrame.h"

#include <memory>
#include <optional>
#include <string>

namespace doorwarden {

// A screen capturer whose monitor, picture and failures the test sets, and which records how
// it was used. All of it lives in a State shared with the test, so it stays readable (and
// safe to drive) after the session destroyed the capturer. Not thread-safe: the test touches
// the state on the thread that uses the capturer (in unit tests, the virtual-time runner).
// A start() while running breaks the interface's contract and throws std::logic_error.
class FakeScreenCapturer final : public ScreenCapturer {
public:
    struct State {
        // Set by the test.
        ScreenRect monitor{0, 0, 1920, 1080}; // monitorRect() while running
        ScreenFrame frame;                    // what a grab shows
        std::optional<std::string> startFailure; // while set, start() fails with this reason
        bool failGrabs = false;                  // grabs fail as when the display cannot be read
        // What hasDamage() says: set by start(), showFrame() and changeDisplayLayout(), cleared
        // by a successful grab; the test may also set it.
        bool damaged = false;

        // Recorded.
        int startCalls = 0; // failed ones included
        int stopCalls = 0;
        int grabs = 0; // successful ones
        // Between a successful start() and stop(); stays true when destroyed while running.
        bool running = false;
        bool alive = true; // false once the capturer is destroyed
        std::uint64_t displayLayoutSerial = 0;

        // The monitor shows a new picture: damage, and the next grab shows it.
        void showFrame(ScreenFrame newFrame);
        // The display layout changed and the captured monitor now lies at `newMonitor`.
        void changeDisplayLayout(ScreenRect newMonitor);
    };

    // Starts from `initial` (a FakeSessionEnvironment passes what the test prepared).
    FakeScreenCapturer();
    explicit FakeScreenCapturer(State initial);
    ~FakeScreenCapturer() override;

    StartResult start() override;
    void stop() override;
    ScreenRect monitorRect() override;
    bool hasDamage() override;
    bool grab(ScreenFrameView& frame) override;
    std::uint64_t displayLayoutSerial() override;

    State& state() { return *state_; }
    const std::shared_ptr<State>& sharedState() const { return state_; }

private:
    std::shared_ptr<State> state_;
};

} // namespace doorwarden
