#pragma once

#include "platform/Clipboard.h"

#include <memory>
#include <vector>

namespace doorwarden {

// A clipboard in memory whose content the test can change as another application would, and
// which records what the client wrote. All of it lives in a State shared with the test, so it
// stays readable after the session destroyed the clipboard. Main thread, like the clipboard.
class FakeClipboard final : public Clipboard {
public:
    struct State {
        std::optional<std::string> text;
        std::uint64_t changeCount = 0;

        // Recorded.
        std::vector<std::string> writes; // what setText() wrote, in order
        bool alive = true;               // false once the clipboard is destroyed

        // Another application copies `newText`: the content is replaced and the count grows.
        void copyFromAnotherApplication(std::string newText);
    };

    // Starts from `initial` (a FakeSessionEnvironment passes what the test prepared).
    FakeClipboard();
    explicit FakeClipboard(State initial);
    ~FakeClipboard() override;

    std::uint64_t changeCount() override;
    std::optional<std::string> text() override;
    void setText(const std::string& text) override;

    State& state() { return *state_; }
    const std::shared_ptr<State>& sharedState() const { return state_; }

private:
    std::shared_ptr<State> state_;
};

} // namespace doorwarden
