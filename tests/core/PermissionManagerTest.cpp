#include "core/PermissionManager.h"
#include "platform/fake/FakeHostInfo.h"
#include "platform/fake/ManualClock.h"

#include <gtest/gtest.h>

using namespace doorwarden;

namespace {

class FakeProbe final : public PermissionProbe {
public:
    bool canCaptureScreen() const override { return capture; }
    bool canInjectInput() const override { return input; }
    bool capture = false;
    bool input = false;
};

} // namespace

TEST(PermissionManagerTest, ReportsTheProbeAndLogsWhatARequestFindsMissing)
{
    ManualClock clock;
    FakeHostInfo host;
    ClientDiagnosticLog log(clock, host);
    FakeProbe probe;
    PermissionManager permissions(probe, log);

    EXPECT_EQ(permissions.check(), (ClientPermissionState{false, false}));
    permissions.requestScreenRecordingAccess();
    permissions.requestAccessibilityAccess();
    probe.capture = true;
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
