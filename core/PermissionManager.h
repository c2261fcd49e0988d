#pragma once

#include "platform/ClientDiagnosticLog.h"
#include "core/ClientPermissionState.h"
#include "platform/PermissionProbe.h"

namespace doorwarden {

// Reads the client's two permissions and asks for missing ones. On X11 there is nothing to
// ask or open: a request logs what is missing (category "PERMISSION"), so the diagnostic log
// says why a session cannot start. Main thread; no state of its own.
class PermissionManager {
public:
    enum class Kind { screenRecording, accessibility };

    PermissionManager(const PermissionProbe& probe, ClientDiagnosticLog& log);

    // Never prompts.
    ClientPermissionState check() const;
    void requestScreenRecordingAccess();
    void requestAccessibilityAccess();
    void openPrivacySettings(Kind kind);

private:
    const PermissionProbe& probe_;
    ClientDiagnosticLog& log_;
};

} // namespace doorwarden
