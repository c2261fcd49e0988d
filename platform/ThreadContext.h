#pragma once

#include "platform/Scheduler.h"
#include "platform/TaskRunner.h"

#include <array>
#include <cstddef>
#include <memory>

namespace doorwarden {

class SerialQueue;

// Every thread the client runs, by name, and who lives where:
// - main: the Qt event loop. The model, the relay connection, the encryption session, the
//   windows and the collaboration controllers.
// - capture: screen grabs, their scaling and conversion, frame pacing and cursor polling.
// - encode: H.264 and JPEG encoding.
// - input: input injection.
// - audio: system audio capture and Opus encoding.
// - direct: the direct peer transport.
// Two threads own themselves and are not listed: the diagnostic log's queue
// (ClientDiagnosticLog) and the secret store's keychain thread (KeychainSecretStore).
//
// An object lives on one of these threads and is reached from another only by posting work to
// its runner; replies hold their receiver weakly (WeakGuard.h). In production each worker is a
// SerialQueue of its own; in tests every worker may be one runner, a ManualScheduler, so that
// worker code runs on virtual time.
//
// Made and destroyed on the main thread. Destruction stops the workers one at a time, in the
// order capture, encode, audio, input, direct: each runs the work posted to it (see
// SerialQueue) and joins. So work may still post to workers later in that order, never to
// earlier ones; whatever else posts to a worker must be gone before the context.
class ThreadContext {
public:
    enum class Thread { main, capture, encode, input, audio, direct };
    static constexpr std::size_t kThreadCount = 6;

    // Production: one SerialQueue per worker thread.
    explicit ThreadContext(Scheduler& main);
    // Tests: every worker thread is `workers` (a ManualScheduler, often `main` itself).
    static ThreadContext withWorkersOn(Scheduler& main, TaskRunner& workers);

    ~ThreadContext();
    ThreadContext(const ThreadContext&) = delete;
    ThreadContext& operator=(const ThreadContext&) = delete;

    TaskRunner& runner(Thread thread) const;
    Scheduler& main() const { return main_; }
    TaskRunner& capture() const { return runner(Thread::capture); }
    TaskRunner& encode() const { return runner(Thread::encode); }
    TaskRunner& input() const { return runner(Thread::input); }
    TaskRunner& audio() const { return runner(Thread::audio); }
    TaskRunner& direct() const { return runner(Thread::direct); }

    // The thread's label, "app.doorwarden.<...>.<name>"; a worker's SerialQueue carries it.
    static const char* label(Thread thread);

private:
    ThreadContext(Scheduler& main, TaskRunner* workers);

    Scheduler& main_;
    std::array<std::unique_ptr<SerialQueue>, kThreadCount> queues_; // by Thread; production only
    std::array<TaskRunner*, kThreadCount> runners_{};                // by Thread
};

} // namespace doorwarden
