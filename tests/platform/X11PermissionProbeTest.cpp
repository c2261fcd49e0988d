#include "platform/linux/X11PermissionProbe.h"
#include "support/XvfbServer.h"

#include <gtest/gtest.h>

using namespace doorwarden;

TEST(X11PermissionProbeTest, AnsweredByTheXServerAndItsExtensions)
{
    struct Case {
        const char* name;
        QStringList serverArguments;
        bool capture;
        bool input;
    };
    const Case cases[] = {
        {"a full X server", {}, true, true},
        {"a server without XTEST", {QStringLiteral("-extension"), QStringLiteral("XTEST")}, true, false},
        {"a server without DAMAGE", {QStringLiteral("-extension"), QStringLiteral("DAMAGE")}, false, true},
    };
    for (const auto& c : cases) {
        XvfbServer server(c.serverArguments);
        ASSERT_FALSE(server.display().isEmpty()) << "Xvfb did not start";
        const X11PermissionProbe probe(server.display().toStdString());
        EXPECT_EQ(probe.canCaptureScreen(), c.capture) << c.name;
        EXPECT_EQ(probe.canInjectInput(), c.input) << c.name;
    }
}

TEST(X11PermissionProbeTest, NothingIsGrantedWithoutAServer)
{
    const X11PermissionProbe probe(":4093");
    EXPECT_FALSE(probe.canCaptureScreen());
    EXPECT_FALSE(probe.canInjectInput());
}
