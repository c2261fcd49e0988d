#pragma once

#include "platform/SystemAudioCapturer.h"

#include <memory>
#include <optional>
#include <string>

namespace doorwarden {

// A system audio capturer fed by the test, which records how it was used. All of it lives in
// a State shared with the test, so it stays readable (and safe to drive) after the session
// destroyed the capturer. Not thread-safe (see FakeScreenCapturer). A start() while running
// breaks the interface's contract and throws std::logic_error.
class FakeSystemAudioCapturer final : public SystemAudioCapturer {
public:
    class State {
    public:
        // Set by the test: while set, start() fails with this reason.
        std::optional<std::string> startFailure;

        // Recorded.
        int startCalls = 0; // failed ones included
        int stopCalls = 0;
        int delivered = 0; // buffers handed to the handler
        // Between a successful start() and stop(); stays true when destroyed while running.
        bool running = false;
        bool alive = true; // false once the capturer is destroyed

        // Hands `buffer` to the handler now, standing in for the audio runner: call it on the
        // thread that uses the capturer, never from inside the capturer's own calls. False, and
        // nothing called, when the capturer is not running or was destroyed.
        bool deliver(const AudioBuffer& buffer);

    private:
        friend class FakeSystemAudioCapturer;
        Handler handler_;
    };

    // Starts from `initial` (a FakeSessionEnvironment passes what the test prepared).
    FakeSystemAudioCapturer();
    explicit FakeSystemAudioCapturer(State initial);
    ~FakeSystemAudioCapturer() override;

    StartResult start(Handler handler) override;
    void stop() override;

    State& state() { return *state_; }
    const std::shared_ptr<State>& sharedState() const { return state_; }

private:
    std::shared_ptr<State> state_;
};

} // namespace doorwarden
