#pragma once

#include "platform/ClientDiagnosticLog.h"
#include "platform/Clock.h"
#include "platform/InputInjector.h"
#include "platform/TaskRunner.h"
#include "input/RemoteInput.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>

namespace doorwarden {

class ClientRemoteInputWorker;

// The viewer's mouse and keyboard, injected on the input runner by a ClientRemoteInputWorker.
// Calls come from the main thread and the direct transport's queue and return at once; the
// work keeps their order. Events wait in a bounded queue: past kQueueLimit waiting, a pointer
// move replaces the move waiting since the last button or key (only the newest position
// matters) and wheel turns add up, while buttons, keys and switches are kept, so a flood cannot
// stall the caller nor lose a release. Past kHardLimit waiting, which only a flood of buttons
// and keys reaches, input is dropped and everything held is let go instead.
class ClientRemoteInput final : public RemoteInput {
public:
    static constexpr std::size_t kQueueLimit = 256;
    static constexpr std::size_t kHardLimit = 4096;
    static constexpr std::chrono::milliseconds kViewerControlWindow{500};

    struct Dependencies {
        const Clock& clock;
        TaskRunner& runner; // ThreadContext::input()
        ClientDiagnosticLog& log;
        std::unique_ptr<InputInjector> injector;
    };

    explicit ClientRemoteInput(Dependencies dependencies);
    // The worker lets go of what it holds and ends on the runner, after the waiting work.
    ~ClientRemoteInput() override;

    void handle(const InputEvent& input) override;
    void setEnabled(bool enabled) override;
    void reset() override;
    std::string pointerController() override;

private:
    static constexpr Clock::MonotonicTime::rep kNever = std::numeric_limits<Clock::MonotonicTime::rep>::min();

    struct Command {
        enum class Kind { input, enable, disable, reset };
        Kind kind = Kind::input;
        InputEvent input;
    };
    // Shared with the work on the runner.
    struct Queue {
        std::mutex mutex;
        std::deque<Command> commands;
        bool drainPosted = false;
        // When the viewer last moved the pointer or pressed a button, in steady-clock ticks.
        std::atomic<Clock::MonotonicTime::rep> lastViewerPointer{kNever};
    };

    static bool isPointer(const Command& command);
    static Command* coalescible(std::deque<Command>& commands, const Command& command);
    void push(Command command);

    const Clock& clock_;
    TaskRunner& runner_;
    std::shared_ptr<Queue> queue_;
    std::shared_ptr<ClientRemoteInputWorker> worker_;
};

} // namespace doorwarden
