#pragma once

#include "platform/ClientDiagnosticLog.h"
#include "platform/Clock.h"
#include "relay/payload/ClientErrorReportPayload.h"
#include "session/SessionService.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

namespace doorwarden {

// Error reports toward the relay: the report the relay collects ("error_report_collect", the
// relay's own request), and the reports stored while no relay took them, sent once the relay
// registered the session. Main thread.
class ErrorReportService final : public SessionService {
public:
    // A collect request is answered at most once per interval; a report's log part is cut to its
    // newest whole lines within logBytes.
    static constexpr std::chrono::seconds collectInterval{60};
    static constexpr std::size_t logBytes = 1024 * 1024;

    struct Dependencies {
        const Clock& clock;
        ClientDiagnosticLog& log;
        // The stored reports not yet accepted by the relay, oldest first (empty: none).
        std::function<std::vector<ClientErrorReportPayload>()> loadPending;
    };

    explicit ErrorReportService(Dependencies dependencies);
    ~ErrorReportService() override;

    // SessionService.
    void registerRoutes(MessageRouter& router) override;
    void sessionStarted(SessionChannel& channel) override;
    void relayRegistered() override;
    void sessionEnded() override;

private:
    void collect(const std::optional<ClientErrorReportPayload>& request);
    void submitFrom(std::vector<ClientErrorReportPayload> reports, std::size_t next);
    void send(const ClientErrorReportPayload& report, std::function<void(bool sent)> done);

    Dependencies dependencies_;
    SessionChannel* channel_ = nullptr;
    std::optional<Clock::MonotonicTime> lastCollect_;
    // Completions of sends of an earlier session change nothing.
    std::shared_ptr<int> session_ = std::make_shared<int>(0);
};

} // namespace doorwarden
