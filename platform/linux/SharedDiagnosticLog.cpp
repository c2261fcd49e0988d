#include "platform/ClientDiagnosticLog.h"

#include "platform/linux/LinuxHostInfo.h"
#include "platform/linux/SystemClock.h"

namespace doorwarden {

// Defined beside the Linux clock and host information it stamps and describes, so that the log
// itself stays free of any implementation.
ClientDiagnosticLog& ClientDiagnosticLog::shared()
{
    static ClientDiagnosticLog log(SystemClock::instance(), LinuxHostInfo::instance());
    return log;
}

} // namespace doorwarden
