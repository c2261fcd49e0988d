#include "platform/linux/XcbScreenCapturer.h"
#include "platform/ScopedEnvironment.h"
#include "platform/RandrClient.h"
#include "platform/linux/XcbConnection.h"
#include "support/XvfbServer.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace doorwarden;

namespace {

constexpr ScreenRect kWholeScreen {0, 0, 1280, 800};

// The colour of a grabbed pixel as 0xRRGGBB, read as BGRX.
std::uint32_t rgbAt(const ScreenFrameView& frame, int x, int y)
{
    const auto offset = static_cast<std::size_t>(y) * frame.stride + x * 4;
    EXPECT_LT(offset + 3, frame.pixels.size()) << "outside the grab";
    if (offset + 3 >= frame.pixels.size()) {
        return 0;
    }
    const std::uint8_t* pixel = &frame.pixels[offset];
    return std::uint32_t {pixel[2]} << 16 | std::uint32_t {pixel[1]} << 8 | pixel[0];
}

// The name of the mapping of this process that holds `address` ("/memfd:doorwarden-screen
// (deleted)", "/SYSV00000000 (deleted)", "[heap]"), empty for an anonymous one.
std::string mappingOf(const void* address)
{
    std::ifstream maps("/proc/self/maps");
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    std::string line;
    while (std::getline(maps, line)) {
        std::istringstream fields(line);
        std::uintptr_t from = 0;
        std::uintptr_t to = 0;
        char dash = 0;
        std::string permissions, offset, device, inode, name;
        fields >> std::hex >> from >> dash >> to >> permissions >> offset >> device >> inode;
        std::getline(fields >> std::ws, name);
        if (at >= from && at < to) {
            return name;
        }
    }
    return "(not mapped)";
}

// The modes (with the "removed, still attached" bit 01000) of the SysV segments this process
// created.
std::vector<unsigned> sysvSegmentModesOfThisProcess()
{
    std::ifstream table("/proc/sysvipc/shm");
    std::string line;
    std::getline(table, line); // the column names
    std::vector<unsigned> modes;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        long long key = 0;
        long long id = 0;
        unsigned mode = 0;
        unsigned long long size = 0;
        pid_t creator = 0;
        fields >> key >> id >> std::oct >> mode >> std::dec >> size >> creator;
        if (fields && creator == getpid()) {
            modes.push_back(mode);
        }
    }
    return modes;
}

bool mapsSharedScreenMemory()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("memfd:doorwarden-screen");
}

int openFileDescriptors()
{
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

} // namespace

// The same picture through every way the pixels can travel, each with the shared memory kept
// from other users: a passed memfd leaves no SysV segment at all; a SysV segment is its
// owner's only and already removed while it is in use; over TCP the server cannot tell who
// the client is, so a private segment cannot be shared and GetImage carries the pixels.
TEST(XcbScreenCapturerTest, GrabsWhatIsOnTheScreenWithPrivateSharedMemory)
{
    struct Case {
        const char* name;
        QStringList serverArguments;
        bool overTcp;
        XcbScreenCapturer::ShmTransport transport;
        std::size_t sysvSegments;
        bool memfd;
        const char* grabbedFrom; // the start of the name of the mapping a grab shows
    };
    using Transport = XcbScreenCapturer::ShmTransport;
    const Case cases[] = {
        {"MIT-SHM with a passed memfd", {}, false, Transport::fileDescriptorOrSysv, 0, true, "/memfd:doorwarden-screen"},
        {"MIT-SHM with a SysV segment", {}, false, Transport::sysv, 1, false, "/SYSV"},
        {"GetImage from a server without MIT-SHM", {QStringLiteral("-extension"), QStringLiteral("MIT-SHM")}, false,
            Transport::fileDescriptorOrSysv, 0, false, ""},
        {"GetImage over TCP", {QStringLiteral("-listen"), QStringLiteral("tcp")}, true, Transport::fileDescriptorOrSysv,
            0, false, ""},
    };
    // Colours whose three bytes differ, so that swapped channels show.
    constexpr std::uint32_t background = 0x203040;
    constexpr std::uint32_t box = 0x123456;
    constexpr std::uint32_t corner = 0xabcdef;
    constexpr std::uint32_t line = 0xfe0110;
    struct Point {
        int x;
        int y;
        std::uint32_t rgb;
    };
    const Point points[] = {
        {0, 0, background},
        {10, 20, box},
        {39, 59, box},
        {40, 60, background},
        {1279, 799, corner},
        {1200, 700, corner},
        {1199, 700, background},
        {640, 400, line},
        {639, 400, background},
        {641, 400, background},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        XvfbServer server(c.serverArguments);
        ASSERT_FALSE(server.display().isEmpty()) << "Xvfb did not start";
        XcbTestClient x(server.display());
        ASSERT_TRUE(x.isConnected());
        x.fill(kWholeScreen, background);
        x.fill({10, 20, 30, 40}, box);
        x.fill({1200, 700, 80, 100}, corner);
        x.fill({640, 0, 1, 800}, line);
        x.settle();

        const QString display = c.overTcp ? QStringLiteral("127.0.0.1") + server.display() : server.display();
        auto capturer = std::make_unique<XcbScreenCapturer>(display.toStdString(), c.transport);
        const StartResult started = capturer->start();
        ASSERT_TRUE(started.succeeded()) << started.reason();
        EXPECT_EQ(capturer->monitorRect(), kWholeScreen);

        ScreenFrameView frame;
        ASSERT_TRUE(capturer->grab(frame));
        EXPECT_EQ(frame.width, 1280);
        EXPECT_EQ(frame.height, 800);
        EXPECT_GE(frame.stride, 4 * 1280);
        EXPECT_EQ(frame.pixels.size(), std::size_t(frame.stride) * 800);
        for (const auto& p : points) {
            EXPECT_EQ(rgbAt(frame, p.x, p.y), p.rgb) << "at " << p.x << "," << p.y;
        }

        const std::vector<unsigned> modes = sysvSegmentModesOfThisProcess();
        EXPECT_EQ(modes.size(), c.sysvSegments);
        for (const unsigned mode : modes) {
            EXPECT_EQ(mode & 0777, 0600u) << "readable or writable by others";
            EXPECT_NE(mode & 01000, 0u) << "still attachable: not removed after the server attached it";
        }
        EXPECT_EQ(mapsSharedScreenMemory(), c.memfd);

        // The grab is the shared memory itself, not a copy of it; the next one shows the change
        // in the same memory.
        const std::string grabbedFrom = mappingOf(frame.pixels.data());
        EXPECT_EQ(grabbedFrom.rfind(c.grabbedFrom, 0), 0u) << grabbedFrom;
        EXPECT_EQ(mappingOf(frame.pixels.data() + frame.pixels.size() - 1), grabbedFrom);
        const std::uint8_t* memory = frame.pixels.data();
        x.fill({10, 20, 30, 40}, line);
        x.settle();
        ASSERT_TRUE(capturer->grab(frame));
        EXPECT_EQ(rgbAt(frame, 10, 20), line);
        EXPECT_EQ(rgbAt(frame, 40, 60), background);
        if (c.memfd || c.sysvSegments > 0) {
            EXPECT_EQ(frame.pixels.data(), memory) << "not the same shared memory";
        }

        capturer.reset(); // destroyed while running
        EXPECT_TRUE(sysvSegmentModesOfThisProcess().empty());
        EXPECT_FALSE(mapsSharedScreenMemory());
    }
}

// A primary monitor on part of the screen is what is captured, and only drawings that reach
// it count as changes; a grab clears them, a drawing after it brings them back.
TEST(XcbScreenCapturerTest, DamageCountsOnlyDrawingsOnTheMonitorSinceTheLastGrab)
{
    XvfbServer server;
    ASSERT_FALSE(server.display().isEmpty()) << "Xvfb did not start";
    RandrClient x(server.display());
    const ScreenRect monitor {100, 50, 640, 480};
    x.setMonitor("MAIN", monitor, /*primary=*/true);
    x.settle();

    XcbScreenCapturer capturer(server.display().toStdString());
    const StartResult started = capturer.start();
    ASSERT_TRUE(started.succeeded()) << started.reason();
    EXPECT_EQ(capturer.monitorRect(), monitor);

    enum class Act { nothing, grab, draw, drawAndGrab };
    struct Step {
        const char* name;
        Act act;
        ScreenRect drawing;
        std::uint32_t rgb;
        bool damage;
    };
    constexpr std::uint32_t edgeColour = 0x445566;
    constexpr std::uint32_t lastColour = 0x778899;
    const Step steps[] = {
        {"nothing grabbed yet", Act::nothing, {}, 0, true},
        {"right after a grab", Act::grab, {}, 0, false},
        {"a drawing inside the monitor", Act::draw, {300, 300, 10, 10}, 0x112233, true},
        {"asked again before the next grab", Act::nothing, {}, 0, true},
        {"after the next grab", Act::grab, {}, 0, false},
        {"a drawing beside the monitor", Act::draw, {900, 600, 50, 50}, 0x112233, false},
        {"a drawing just right of its last column", Act::draw, {740, 60, 5, 5}, 0x112233, false},
        {"a drawing just below its last row", Act::draw, {120, 530, 5, 5}, 0x112233, false},
        {"a drawing across its edge", Act::draw, {700, 500, 100, 100}, 0x112233, true},
        {"after a grab again", Act::grab, {}, 0, false},
        {"a drawing on its last column", Act::draw, {739, 60, 1, 1}, edgeColour, true},
        // DAMAGE reports again only once what it reported was taken: the grab has to take it.
        {"a drawing grabbed before it was asked about", Act::drawAndGrab, {300, 300, 10, 10}, 0x112233, false},
        {"a drawing after that grab", Act::draw, {310, 300, 10, 10}, lastColour, true},
    };
    ScreenFrameView frame;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        switch (step.act) {
        case Act::nothing:
            break;
        case Act::grab:
            ASSERT_TRUE(capturer.grab(frame));
            EXPECT_EQ(frame.width, monitor.width);
            EXPECT_EQ(frame.height, monitor.height);
            break;
        case Act::draw:
            x.fill(step.drawing, step.rgb);
            break;
        case Act::drawAndGrab:
            x.fill(step.drawing, step.rgb);
            x.settle();
            ASSERT_TRUE(capturer.grab(frame));
            break;
        }
        x.settle();
        EXPECT_EQ(capturer.hasDamage(), step.damage);
    }
    ASSERT_TRUE(capturer.grab(frame));
    EXPECT_EQ(rgbAt(frame, 739 - monitor.x, 60 - monitor.y), edgeColour) << "the drawing on the monitor's edge";
    EXPECT_EQ(rgbAt(frame, 310 - monitor.x, 300 - monitor.y), lastColour) << "the last drawing";
}

// Each change of the layout while capturing moves the serial, and the monitor and the next
// grab follow it: the primary monitor, else the first, else the whole root window, cut to the
// screen.
TEST(XcbScreenCapturerTest, FollowsTheDisplayLayout)
{
    XvfbServer server;
    ASSERT_FALSE(server.display().isEmpty()) << "Xvfb did not start";
    RandrClient x(server.display());
    XcbScreenCapturer capturer(server.display().toStdString());
    const StartResult started = capturer.start();
    ASSERT_TRUE(started.succeeded()) << started.reason();
    EXPECT_EQ(capturer.monitorRect(), kWholeScreen) << "the output's own monitor";
    EXPECT_EQ(capturer.displayLayoutSerial(), 0u);

    struct Change {
        const char* name;
        std::function<void()> apply;
        ScreenRect monitor;
    };
    const Change changes[] = {
        {"a primary monitor on part of the screen",
            [&] {
                x.setMonitor("MAIN", {100, 50, 640, 480}, true);
            },
            {100, 50, 640, 480}},
        {"a second monitor that is not primary",
            [&] {
                x.setMonitor("SIDE", {800, 0, 480, 400}, false);
            },
            {100, 50, 640, 480}},
        {"the primary monitor removed: the first one", [&] { x.deleteMonitor("MAIN"); }, {800, 0, 480, 400}},
        {"the last monitor set by a client removed", [&] { x.deleteMonitor("SIDE"); }, kWholeScreen},
        {"the output switched off: no monitor", [&] { x.switchOutputOff(); }, kWholeScreen},
        {"the screen made smaller", [&] { x.setScreenSize(1024, 600); }, {0, 0, 1024, 600}},
        {"a primary monitor reaching past the screen's edge",
            [&] {
                x.setMonitor("MAIN", {800, 400, 640, 480}, true);
            },
            {800, 400, 224, 200}},
    };
    constexpr std::uint32_t outside = 0x0a0b0c;
    std::uint32_t inside = 0x102030;
    std::uint64_t serial = 0;
    ScreenFrameView frame;
    for (const auto& change : changes) {
        SCOPED_TRACE(change.name);
        change.apply();
        inside += 0x010101;
        x.fill(kWholeScreen, outside);
        x.fill(change.monitor, inside);
        x.settle();

        EXPECT_GT(capturer.displayLayoutSerial(), serial);
        serial = capturer.displayLayoutSerial();
        EXPECT_EQ(capturer.monitorRect(), change.monitor);
        ASSERT_TRUE(capturer.grab(frame));
        ASSERT_EQ(frame.width, change.monitor.width);
        ASSERT_EQ(frame.height, change.monitor.height);
        EXPECT_EQ(frame.pixels.size(), std::size_t(frame.stride) * frame.height);
        EXPECT_EQ(rgbAt(frame, 0, 0), inside) << "the grab's origin";
        EXPECT_EQ(rgbAt(frame, frame.width - 1, frame.height - 1), inside) << "the grab's far corner";
    }

    // A restart does not take the serial back, so a caller never mistakes an old value for new.
    capturer.stop();
    ASSERT_TRUE(capturer.start().succeeded());
    EXPECT_EQ(capturer.displayLayoutSerial(), serial);
}

TEST(XcbScreenCapturerTest, RefusesScreensWhosePixelsAreNotBgrx)
{
    struct Case {
        const char* name;
        QString screen;
        const char* found;
    };
    const Case cases[] = {
        {"16-bit colour", QStringLiteral("1280x720x16"), "depth 16, 16 bits per pixel"},
        {"8-bit palette", QStringLiteral("1280x720x8"), "depth 8, 8 bits per pixel"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        XvfbServer server({QStringLiteral("-screen"), QStringLiteral("0"), c.screen});
        ASSERT_FALSE(server.display().isEmpty()) << "Xvfb did not start";
        XcbScreenCapturer capturer(server.display().toStdString());
        for (int attempt = 0; attempt < 2; ++attempt) {
            const StartResult started = capturer.start();
            EXPECT_FALSE(started.succeeded());
            EXPECT_NE(started.reason().find("unsupported pixel format"), std::string::npos) << started.reason();
            EXPECT_NE(started.reason().find(c.found), std::string::npos) << started.reason();
            ScreenFrameView frame;
            EXPECT_FALSE(capturer.grab(frame));
            EXPECT_FALSE(capturer.hasDamage());
            EXPECT_TRUE(capturer.monitorRect().isEmpty());
        }
    }
}

// DISPLAY is read when starting, not when the capturer is made; a failed start leaves nothing
// behind and a later one works; stopping closes everything, and starting again works.
TEST(XcbScreenCapturerTest, StartsWhenADisplayIsThereAndStopsCleanly)
{
    XvfbServer server;
    ASSERT_FALSE(server.display().isEmpty()) << "Xvfb did not start";
    ScopedEnvironment environment;
    environment.unset("DISPLAY");
    XcbScreenCapturer capturer;

    const int descriptorsBefore = openFileDescriptors();
    const StartResult withoutDisplay = capturer.start();
    EXPECT_FALSE(withoutDisplay.succeeded());
    EXPECT_NE(withoutDisplay.reason().find("DISPLAY"), std::string::npos) << withoutDisplay.reason();
    EXPECT_EQ(openFileDescriptors(), descriptorsBefore);

    environment.set("DISPLAY", server.display().toLocal8Bit());
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run == 0 ? "first start" : "started again");
        const StartResult started = capturer.start();
        ASSERT_TRUE(started.succeeded()) << started.reason();
        ScreenFrameView frame;
        EXPECT_TRUE(capturer.grab(frame));
        EXPECT_EQ(frame.width, kWholeScreen.width);

        capturer.stop();
        EXPECT_TRUE(capturer.monitorRect().isEmpty());
        EXPECT_FALSE(capturer.hasDamage());
        EXPECT_FALSE(capturer.grab(frame));
        EXPECT_EQ(openFileDescriptors(), descriptorsBefore) << "the connection or the shared memory stayed open";
        EXPECT_FALSE(mapsSharedScreenMemory());
    }
    capturer.stop(); // stopping a stopped capturer does nothing
}
