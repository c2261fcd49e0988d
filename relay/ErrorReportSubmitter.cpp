#include "relay/ErrorReportSubmitter.h"

#include "platform/ClientBuildConfig.h"
#include "platform/Iso8601.h"

namespace doorwarden {

ErrorReportSubmitter::ErrorReportSubmitter(Dependencies dependencies)
    : dependencies_(std::move(dependencies))
{
}

void ErrorReportSubmitter::collect(const std::optional<ClientErrorReportPayload>& request)
{
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
    report.machineName = dependencies_.machineName();
    report.version = build::kDisplayVersion;
    report.createdAtUtc = formatIso8601Utc(dependencies_.clock.wallNow());
    report.log = dependencies_.log.diagnosticSnapshot(logBytes);
    dependencies_.send(report, {});
}

void ErrorReportSubmitter::submitPending()
{
    if (dependencies_.loadPending) {
        submitFrom(dependencies_.loadPending(), 0);
    }
}

void ErrorReportSubmitter::submitFrom(std::vector<ClientErrorReportPayload> reports, std::size_t next)
{
    if (next >= reports.size()) {
        return;
    }
    const auto report = reports[next];
    dependencies_.send(report, [this, reports = std::move(reports), next](bool sent) mutable {
        if (sent) {
            submitFrom(std::move(reports), next + 1);
        }
    });
}

} // namespace doorwarden
