#include "core/PermissionManager.h"
#include "platform/fake/FakeHostInfo.h"
#include "platform/fake/FakePermissionProbe.h"
#include "platform/fake/ManualClock.h"

#include <gtest/gtest.h>

using namespace doorwarden;

TEST(PermissionManagerTest, ReportsTheProbeAndLogsWhatARequestFindsMissing)
{
    ManualClock clock;
    FakeHostInfo host;
    ClientDiagnosticLog log(clock, host);
    FakePermissionProbe probe(clock);
    probe.screen = false;
    probe.input = false;
    PermissionManager permissions(probe, log);

    EXPECT_EQ(permissions.check(), (ClientPermissionState{false, false}));
    permissions.requestScreenRecordingAccess();
    permissions.requestAccessibilityAccess();
    probe.screen = true;
    EXPECT_EQ(permissions.check(), (ClientPermissionState{true, false}));
    permissions.requestScreenRecordingAccess();
    probe.input = true;
    EXPECT_EQ(permissions.check(), (ClientPermissionState{true, true}));

    const std::string snapshot = log.diagnosticSnapshot();
    EXPECT_NE(snapshot.find("|PERMISSION|screen_recording=missing need=x11_display_with_damage_and_xfixes"),
              std::string::npos);
    EXPECT_NE(snapshot.find("|PERMISSION|accessibility=missing need=x11_xtest"), std::string::npos);
    EXPECT_NE(snapshot.find("|PERMISSION|screen_recording=granted"), std::string::npos);
}
