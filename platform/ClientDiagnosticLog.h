#pragma once

#include "platform/Clock.h"
#include "platform/HostInfo.h"
#include "platform/SerialQueue.h"

#include <cstddef>
#include <deque>
#include <limits>
#include <string>

namespace doorwarden {

// The process's bounded, in-memory log of short categorised lines, attached to error
// reports. Lines read "<UTC time with milliseconds>|<CATEGORY>|<key=value ...>". Nothing is
// written to disk.
//
// The category and the message are escaped as they are stored, since a peer's text may be in
// them: "\\" and "\|" for the backslash and the bar, "\n", "\r", "\t", "\xNN" for the other
// control characters and for a byte that is not UTF-8, "\uNNNN" for C1 controls, line and
// paragraph separators and the direction controls. Other text is kept as it is.
class ClientDiagnosticLog {
public:
    static constexpr std::size_t maximumLineCount = 2000;
    // A longer line is cut to this many bytes (at a character or escape boundary), so the log
    // holds at most some 8 MiB whatever its callers put in their messages.
    static constexpr std::size_t maximumLineBytes = 4096;
    static constexpr const char* queueLabel = "app.doorwarden.client.diagnostic";

    // A flag as log lines write it.
    static constexpr const char* flag(bool value) { return value ? "true" : "false"; }

    // Logs the "START" line. The clock and host info must outlive the log.
    ClientDiagnosticLog(const Clock& clock, const HostInfo& host);

    // The process's log on the system clock, created on first use (defined by platform/linux/).
    static ClientDiagnosticLog& shared();

    // Appends a line stamped with the time of the call. Any thread; never blocks.
    void log(std::string category, std::string message);

    // Five header lines about the client and the machine, then the lines, oldest first: every
    // line, or within `maximumBytes` only the newest whole lines that fit (the header is kept
    // even when it alone is longer). Waits for lines logged before the call.
    std::string diagnosticSnapshot(std::size_t maximumBytes = std::numeric_limits<std::size_t>::max());

private:
    const Clock& clock_;
    const HostInfo& host_;
    std::deque<std::string> lines_; // touched only on queue_
    SerialQueue queue_;             // last: drains before the members its work uses go
};

} // namespace doorwarden
