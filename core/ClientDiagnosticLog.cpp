#include "core/ClientDiagnosticLog.h"

#include "core/ClientBuildConfig.h"
#include "core/Iso8601.h"
#include "platform/linux/LinuxHostInfo.h"
#include "platform/linux/SystemClock.h"

namespace doorwarden {

namespace {
const std::string kComponentLine = std::string("component=MacClient version=") + build::kVersionText;
} // namespace

ClientDiagnosticLog::ClientDiagnosticLog(const Clock& clock, const HostInfo& host)
    : clock_(clock)
    , host_(host)
    , queue_(queueLabel)
{
    log("START", kComponentLine);
}

ClientDiagnosticLog& ClientDiagnosticLog::shared()
{
    static ClientDiagnosticLog log(SystemClock::instance(), LinuxHostInfo::instance());
    return log;
}

void ClientDiagnosticLog::log(std::string category, std::string message)
{
    // The time is read here, so that a busy queue does not delay the stamp; formatting and
    // storing happen on the queue.
    queue_.async([this, now = clock_.wallNow(), category = std::move(category), message = std::move(message)] {
        lines_.push_back(formatIso8601Utc(now) + "|" + category + "|" + message);
        while (lines_.size() > maximumLineCount) {
            lines_.pop_front();
        }
    });
}

std::string ClientDiagnosticLog::diagnosticSnapshot()
{
    std::string text = kComponentLine;
    text += "\nmachine=" + host_.machineName();
    text += "\nos=" + host_.operatingSystemVersion();
    text += "\nprocessorCount=" + std::to_string(host_.processorCount());
    text += "\nphysicalMemory=" + std::to_string(host_.physicalMemoryBytes());
    queue_.sync([&] {
        for (const auto& line : lines_) {
            text += '\n';
            text += line;
        }
    });
    return text;
}

} // namespace doorwarden
