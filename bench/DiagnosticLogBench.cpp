// What a caller pays for a diagnostic line, beside appending the same line to a locked
// deque on its own thread (the least any thread-safe log can cost).

#include "platform/ClientDiagnosticLog.h"
#include "platform/fake/FakeHostInfo.h"
#include "platform/linux/SystemClock.h"

#include <benchmark/benchmark.h>

#include <deque>
#include <mutex>

using namespace doorwarden;

static void BM_DiagnosticLogCall(benchmark::State& state)
{
    FakeHostInfo host;
    ClientDiagnosticLog log(SystemClock::instance(), host);
    for (auto _ : state) {
        log.log("REMOTE_CONTROL", "event=mouse_move x=1024 y=768");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DiagnosticLogCall);

static void BM_LockedDequeAppend(benchmark::State& state)
{
    std::mutex mutex;
    std::deque<std::string> lines;
    for (auto _ : state) {
        std::string category = "REMOTE_CONTROL";
        std::string message = "event=mouse_move x=1024 y=768";
        std::lock_guard lock(mutex);
        lines.push_back(category + "|" + message);
        if (lines.size() > ClientDiagnosticLog::maximumLineCount) {
            lines.pop_front();
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LockedDequeAppend);
