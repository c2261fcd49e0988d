#include "core/PermissionManager.h"

namespace doorwarden {

PermissionManager::PermissionManager(const PermissionProbe& probe, ClientDiagnosticLog& log)
    : probe_(probe)
    , log_(log)
{
}

ClientPermissionState PermissionManager::check() const
{
    return {probe_.canCaptureScreen(), probe_.canInjectInput()};
}

void PermissionManager::requestScreenRecordingAccess()
{
    openPrivacySettings(Kind::screenRecording);
}

void PermissionManager::requestAccessibilityAccess()
{
    openPrivacySettings(Kind::accessibility);
}

void PermissionManager::openPrivacySettings(Kind kind)
{
    if (kind == Kind::screenRecording) {
        log_.log("PERMISSION", probe_.canCaptureScreen()
                                   ? "screen_recording=granted"
                                   : "screen_recording=missing need=x11_display_with_damage_and_xfixes");
    } else {
        log_.log("PERMISSION", probe_.canInjectInput() ? "accessibility=granted"
                                                       : "accessibility=missing need=x11_xtest");
    }
}

} // namespace doorwarden
