#include "platform/ClientDiagnosticLog.h"

#include "platform/ClientBuildConfig.h"
#include "platform/Iso8601.h"

#include <iterator>

namespace doorwarden {

namespace {
const std::string kComponentLine = std::string("component=MacClient version=") + build::kVersionText;

// `line` cut to at most `maximumBytes`, never inside a UTF-8 sequence.
void cutLine(std::string& line, std::size_t maximumBytes)
{
    if (line.size() <= maximumBytes) {
        return;
    }
    std::size_t end = maximumBytes;
    while (end > 0 && (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80) {
        --end;
    }
    line.resize(end);
}
} // namespace

ClientDiagnosticLog::ClientDiagnosticLog(const Clock& clock, const HostInfo& host)
    : clock_(clock)
    , host_(host)
    , queue_(queueLabel)
{
    log("START", kComponentLine);
}

void ClientDiagnosticLog::log(std::string category, std::string message)
{
    // The time is read here, so that a busy queue does not delay the stamp; formatting and
    // storing happen on the queue.
    queue_.post([this, now = clock_.wallNow(), category = std::move(category), message = std::move(message)] {
        lines_.push_back(formatIso8601Utc(now) + "|" + category + "|" + message);
        cutLine(lines_.back(), maximumLineBytes);
        while (lines_.size() > maximumLineCount) {
            lines_.pop_front();
        }
    });
}

std::string ClientDiagnosticLog::diagnosticSnapshot(std::size_t maximumBytes)
{
    std::string text = kComponentLine;
    text += "\nmachine=" + host_.machineName();
    text += "\nos=" + host_.operatingSystemVersion();
    text += "\nprocessorCount=" + std::to_string(host_.processorCount());
    text += "\nphysicalMemory=" + std::to_string(host_.physicalMemoryBytes());
    queue_.sync([&] {
        // Newest first until the next line (and its line feed) would not fit.
        std::size_t size = text.size();
        auto first = lines_.end();
        while (first != lines_.begin()) {
            const std::size_t added = 1 + std::prev(first)->size();
            if (size > maximumBytes || added > maximumBytes - size) {
                break;
            }
            size += added;
            --first;
        }
        text.reserve(size);
        for (auto line = first; line != lines_.end(); ++line) {
            text += '\n';
            text += *line;
        }
    });
    return text;
}

} // namespace doorwarden
