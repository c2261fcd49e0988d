#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <functional>

namespace doorwarden {

// Runs the Qt event loop until `done` holds or `timeout` passes; true when it holds. For tests
// of real sockets and timers: it waits on events, never sleeps a fixed time.
inline bool spinUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::milliseconds(10000))
{
    QElapsedTimer elapsed;
    elapsed.start();
    // processEvents() with a time limit does not wait for events (it spins a core, which the
    // programs under test need); this wakes the waiting loop so that `done` is asked at least
    // every 10 ms, for conditions that no event announces.
    QTimer tick;
    tick.start(10);
    while (!done() && elapsed.elapsed() < timeout.count()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return done();
}

// Runs the Qt event loop for `duration`: for measuring what happens meanwhile.
inline void spinFor(std::chrono::milliseconds duration)
{
    spinUntil([] { return false; }, duration);
}

} // namespace doorwarden
