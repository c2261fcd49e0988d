#include "session/ErrorReportService.h"

#include "platform/ClientBuildConfig.h"
#include "platform/Iso8601.h"

#include <memory>

namespace doorwarden {

ErrorReportService::ErrorReportService(Dependencies dependencies)
    : dependencies_(std::move(dependencies))
{
}

ErrorReportService::~ErrorReportService() = default;

void ErrorReportService::registerRoutes(MessageRouter& router)
{
    router.route(RelayMessageType::errorReportCollect, RequiredOrigin::relay,
                 [this](const InboundMessage& inbound) { collect(inbound.message.errorReport); });
}

void ErrorReportService::sessionStarted(SessionChannel& channel)
{
    channel_ = &channel;
}

void ErrorReportService::relayRegistered()
{
    if (dependencies_.loadPending) {
        submitFrom(dependencies_.loadPending(), 0);
    }
}

void ErrorReportService::sessionEnded()
{
    channel_ = nullptr;
    session_ = std::make_shared<int>(0);
}

void ErrorReportService::collect(const std::optional<ClientErrorReportPayload>& request)
{
    if (!channel_) {
        return;
    }
    const auto now = dependencies_.clock.monotonicNow();
    if (lastCollect_ && now - *lastCollect_ < collectInterval) {
        dependencies_.log.log("ERROR_REPORT", "collect_dropped reason=rate_limited");
        return;
    }
    lastCollect_ = now;
    ClientErrorReportPayload report;
    if (request) {
        report.reportId = request->reportId;
        report.requestedBy = request->requestedBy;
    }
    report.component = "Client";
    report.machineName = channel_->machineName();
    report.version = build::kDisplayVersion;
    report.createdAtUtc = formatIso8601Utc(dependencies_.clock.wallNow());
    report.log = dependencies_.log.diagnosticSnapshot(logBytes);
    send(report, {});
}

void ErrorReportService::submitFrom(std::vector<ClientErrorReportPayload> reports, std::size_t next)
{
    if (next >= reports.size()) {
        return;
    }
    const auto report = reports[next];
    send(report, [this, reports = std::move(reports), next](bool sent) mutable {
        if (sent) {
            submitFrom(std::move(reports), next + 1);
        }
    });
}

void ErrorReportService::send(const ClientErrorReportPayload& report, std::function<void(bool sent)> done)
{
    if (!channel_) {
        return;
    }
    auto message = RelayMessage::of(RelayMessageType::errorReportSubmit);
    message.errorReport = report;
    // Reports are bulky and can wait for a later session (the pending store) or be asked for
    // again: the first dropped when the relay reads slowly.
    channel_->sendToRelay(std::move(message), true,
                          [this, session = std::weak_ptr<int>(session_), done = std::move(done)](bool sent) {
                              if (!session.lock()) {
                                  return;
                              }
                              dependencies_.log.log("ERROR_REPORT", sent ? "submitted component=Client"
                                                                         : "submit_failed error=send failed");
                              if (done) {
                                  done(sent);
                              }
                          });
}

} // namespace doorwarden
