#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

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
    while (!done() && elapsed.elapsed() < timeout.count()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
    return done();
}

// Runs the Qt event loop for `duration`: for measuring what happens meanwhile.
inline void spinFor(std::chrono::milliseconds duration)
{
    spinUntil([] { return false; }, duration);
}

} // namespace doorwarden
