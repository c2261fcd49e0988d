#pragma once

#include "platform/ClientDiagnosticLog.h"
#include "platform/Clock.h"
#include "relay/payload/ClientErrorReportPayload.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace doorwarden {

// Error reports toward the relay: the report the relay collects, and the reports stored while
// no relay took them. Main thread.
class ErrorReportSubmitter {
public:
    // A collect request is answered at most once per interval; a report's log part is cut to its
    // newest whole lines within logBytes.
    static constexpr std::chrono::seconds collectInterval{60};
    static constexpr std::size_t logBytes = 1024 * 1024;

    using Send = std::function<void(const ClientErrorReportPayload& report, std::function<void(bool sent)> done)>;

    struct Dependencies {
        const Clock& clock;
        ClientDiagnosticLog& log;
        std::function<std::string()> machineName;
        // The stored reports not yet accepted by the relay, oldest first (empty: none).
        std::function<std::vector<ClientErrorReportPayload>()> loadPending;
        // Hands one report to the relay; `done` is not called once the sender is gone.
        Send send;
    };

    explicit ErrorReportSubmitter(Dependencies dependencies);

    // Answers the relay's collect request (its id and requester, when given) with this client's
    // report and log.
    void collect(const std::optional<ClientErrorReportPayload>& request);
    // Sends the stored reports in order, each after the previous one left; they stay stored
    // until the relay accepts them.
    void submitPending();

private:
    void submitFrom(std::vector<ClientErrorReportPayload> reports, std::size_t next);

    Dependencies dependencies_;
    std::optional<Clock::MonotonicTime> lastCollect_;
};

} // namespace doorwarden
