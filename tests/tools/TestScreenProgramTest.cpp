// doorwarden-test-screen on a private Xvfb, looked at the way a screen capture does: grabs of
// the root window, read back with the stamp's reader.

#include "testscreen/TestScreenStamp.h"

#include "platform/ScreenFrame.h"
#include "support/EventLoopWait.h"
#include "support/XvfbServer.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <signal.h>
#include <sys/uio.h>
#include <time.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

using namespace doorwarden;
using namespace std::chrono_literals;

namespace {

template <typename Reply>
using ReplyPointer = std::unique_ptr<Reply, decltype(&std::free)>;

std::uint64_t monotonicMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}

// One run of the program; killed if the test leaves it running.
class TestScreen {
public:
    explicit TestScreen(const QStringList& arguments,
                        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
    {
        process_.setProgram(QStringLiteral(DOORWARDEN_TEST_SCREEN_PROGRAM));
        process_.setArguments(arguments);
        process_.setProcessEnvironment(environment);
        process_.start();
    }

    ~TestScreen()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    // The next line on standard output; empty when the program ended or went quiet for 10 s.
    QString nextLine()
    {
        spinUntil([this] { return process_.canReadLine() || process_.state() == QProcess::NotRunning; });
        return QString::fromUtf8(process_.readLine()).trimmed();
    }

    void signal(int number) { ::kill(static_cast<pid_t>(process_.processId()), number); }

    // The exit status; absent when the program did not end within 5 s or ended by a signal.
    std::optional<int> exitCode()
    {
        spinUntil([this] { return process_.state() == QProcess::NotRunning; }, 5000ms);
        if (process_.state() != QProcess::NotRunning || process_.exitStatus() != QProcess::NormalExit) {
            return std::nullopt;
        }
        return process_.exitCode();
    }

    QString standardOutput() { return QString::fromUtf8(process_.readAllStandardOutput()); }
    QString standardError() { return QString::fromUtf8(process_.readAllStandardError()); }

private:
    QProcess process_;
};

// A client of the display that looks at it the way the screen capture does.
class Display {
public:
    explicit Display(const QString& name)
        : connection_(xcb_connect(name.toLocal8Bit().constData(), nullptr), xcb_disconnect)
    {
        if (xcb_connection_has_error(connection_.get()) == 0) {
            root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_.get())).data->root;
        }
    }

    bool connected() const { return root_ != 0; }

    ScreenFrame grab()
    {
        const ReplyPointer<xcb_get_geometry_reply_t> geometry(
            xcb_get_geometry_reply(connection_.get(), xcb_get_geometry(connection_.get(), root_), nullptr), std::free);
        if (!geometry) {
            return {};
        }
        const ReplyPointer<xcb_get_image_reply_t> image(
            xcb_get_image_reply(connection_.get(),
                                xcb_get_image(connection_.get(), XCB_IMAGE_FORMAT_Z_PIXMAP, root_, 0, 0,
                                              geometry->width, geometry->height, ~0u),
                                nullptr),
            std::free);
        if (!image) {
            return {};
        }
        const std::uint8_t* data = xcb_get_image_data(image.get());
        return {geometry->width, geometry->height, geometry->width * 4,
                std::vector<std::uint8_t>(data, data + xcb_get_image_data_length(image.get()))};
    }

    std::optional<TestScreenStamp> stamp()
    {
        const ScreenFrame frame = grab();
        return readTestScreenStamp(frame.pixels.data(), frame.width, frame.height, frame.stride);
    }

    // Grabs until a stamp satisfies `wanted`, for at most 10 s.
    std::optional<TestScreenStamp> waitForStamp(const std::function<bool(const TestScreenStamp&)>& wanted)
    {
        std::optional<TestScreenStamp> seen;
        QElapsedTimer elapsed;
        elapsed.start();
        while (!(seen && wanted(*seen)) && elapsed.elapsed() < 10000) {
            seen = stamp();
        }
        return seen && wanted(*seen) ? seen : std::nullopt;
    }

    // The size of each window on the root (the program's is the only one on a private server).
    std::vector<std::pair<int, int>> windowSizes()
    {
        std::vector<std::pair<int, int>> sizes;
        const ReplyPointer<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(connection_.get(), xcb_query_tree(connection_.get(), root_), nullptr), std::free);
        if (!tree) {
            return sizes;
        }
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
            const ReplyPointer<xcb_get_geometry_reply_t> geometry(
                xcb_get_geometry_reply(connection_.get(), xcb_get_geometry(connection_.get(), children[i]), nullptr),
                std::free);
            if (geometry) {
                sizes.emplace_back(geometry->width, geometry->height);
            }
        }
        return sizes;
    }

    // Resizes the root window through RandR, as a desktop's display settings do. libxcb-randr's
    // headers are not among our dependencies, so the few requests are written out here. The
    // server refuses a screen smaller than an active CRTC's mode, so the CRTCs are turned off
    // first (a capture of the root window does not need them).
    std::string resizeRoot(int width, int height)
    {
        static xcb_extension_t randr{"RANDR", 0};
        const auto request = [&](std::uint8_t minor, std::vector<std::uint8_t> body, bool hasReply) {
            body.insert(body.begin(), 4, 0); // the header, which libxcb fills in
            body.resize((body.size() + 3) / 4 * 4, 0);
            iovec parts[3]{};
            parts[2] = {body.data(), body.size()};
            const xcb_protocol_request_t protocol{1, &randr, minor, static_cast<std::uint8_t>(hasReply ? 0 : 1)};
            const unsigned sequence =
                xcb_send_request(connection_.get(), hasReply ? 0 : XCB_REQUEST_CHECKED, parts + 2, &protocol);
            // A request without a reply has no answer to wait for, only a possible error.
            xcb_generic_error_t* error = nullptr;
            void* reply = hasReply ? xcb_wait_for_reply(connection_.get(), sequence, &error)
                                   : (error = xcb_request_check(connection_.get(), {sequence}), nullptr);
            const bool failed = error != nullptr;
            std::free(error);
            return std::pair{ReplyPointer<std::uint8_t>(static_cast<std::uint8_t*>(reply), std::free), failed};
        };
        const auto append = [](std::vector<std::uint8_t>& out, auto value) {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(&value);
            out.insert(out.end(), bytes, bytes + sizeof value);
        };

        std::vector<std::uint8_t> version;
        append(version, std::uint32_t{1});
        append(version, std::uint32_t{6});
        if (request(0, version, true).second) {
            return "RandR QueryVersion failed";
        }
        std::vector<std::uint8_t> window;
        append(window, root_);
        const auto resources = request(8, window, true); // GetScreenResources
        if (resources.second || !resources.first) {
            return "RandR GetScreenResources failed";
        }
        const std::uint8_t* answer = resources.first.get();
        std::uint32_t configTimestamp = 0;
        std::uint16_t crtcCount = 0;
        std::memcpy(&configTimestamp, answer + 12, 4);
        std::memcpy(&crtcCount, answer + 16, 2);
        for (int i = 0; i < crtcCount; ++i) {
            std::uint32_t crtc = 0;
            std::memcpy(&crtc, answer + 32 + 4 * i, 4);
            std::vector<std::uint8_t> off;
            append(off, crtc);
            append(off, std::uint32_t{0}); // now
            append(off, configTimestamp);
            append(off, std::uint32_t{0}); // x, y
            append(off, std::uint32_t{0}); // no mode
            append(off, std::uint16_t{1}); // rotation 0
            append(off, std::uint16_t{0});
            const auto set = request(21, off, true); // SetCrtcConfig
            if (set.second || !set.first || set.first.get()[1] != 0) {
                return "RandR SetCrtcConfig failed";
            }
        }
        std::vector<std::uint8_t> size;
        append(size, root_);
        append(size, static_cast<std::uint16_t>(width));
        append(size, static_cast<std::uint16_t>(height));
        append(size, static_cast<std::uint32_t>(width / 4)); // millimetres at about 100 dpi
        append(size, static_cast<std::uint32_t>(height / 4));
        if (request(7, size, false).second) { // SetScreenSize
            return "RandR SetScreenSize failed";
        }
        return {};
    }

private:
    std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection_;
    xcb_window_t root_ = 0;
};

QStringList on(const XvfbServer& server, QStringList arguments)
{
    return QStringList{QStringLiteral("--display"), server.display()} + arguments;
}

const QRegularExpression kReadyLine(QStringLiteral("^test-screen ready (\\d+)x(\\d+) fps=(\\d+)$"));

// The colour at (x, y), without the unused byte.
std::uint32_t colourAt(const ScreenFrame& frame, int x, int y)
{
    std::uint32_t value = 0;
    std::memcpy(&value, &frame.pixels[static_cast<std::size_t>(y) * frame.stride + static_cast<std::size_t>(x) * 4], 4);
    return value & 0xFFFFFFu;
}

} // namespace

TEST(TestScreenProgramTest, BadArgumentsAreRefusedWithTheUsageStatus)
{
    QProcessEnvironment withoutDisplay = QProcessEnvironment::systemEnvironment();
    withoutDisplay.remove(QStringLiteral("DISPLAY"));
    // A display no server answers on: arguments taken by mistake end in status 1, not 2.
    const QStringList nowhere{QStringLiteral("--display"), QStringLiteral(":4093")};
    struct Case {
        QStringList arguments;
        const char* complaint;
    };
    const Case cases[] = {
        {nowhere + QStringList{"--fps", "0"}, "--fps '0'"},
        {nowhere + QStringList{"--fps", "1001"}, "--fps '1001'"},
        {nowhere + QStringList{"--fps", "fast"}, "--fps 'fast'"},
        {nowhere + QStringList{"--frames", "-1"}, "--frames '-1'"},
        {nowhere + QStringList{"--frames", "ten"}, "--frames 'ten'"},
        {nowhere + QStringList{"--static", "--frames", "3"}, "--static"},
        {nowhere + QStringList{"--static", "--fps", "10"}, "--static"},
        {nowhere + QStringList{"--speed", "2"}, "speed"},
        {nowhere + QStringList{"extra"}, "unexpected argument 'extra'"},
        {QStringList{"--display", ""}, "--display"},
        {QStringList{}, "DISPLAY"},
    };
    for (const auto& c : cases) {
        TestScreen program(c.arguments, withoutDisplay);
        EXPECT_EQ(program.exitCode(), 2) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(program.standardError().contains(QLatin1String(c.complaint)))
            << c.arguments.join(' ').toStdString();
    }

    TestScreen help({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode(), 0);
    const QString text = help.standardOutput();
    for (const char* option : {"--display", "--fps", "--frames", "--static"}) {
        EXPECT_TRUE(text.contains(QLatin1String(option))) << option;
    }

    TestScreen unreachable(nowhere);
    EXPECT_EQ(unreachable.exitCode(), 1);
    EXPECT_TRUE(unreachable.standardError().contains(QLatin1String(":4093")));
}

TEST(TestScreenProgramTest, EachFrameCarriesALaterStampAtTheGivenRate)
{
    XvfbServer server;
    ASSERT_FALSE(server.display().isEmpty()) << "Xvfb did not start";
    const std::uint64_t launched = monotonicMicroseconds();
    TestScreen program(on(server, {QStringLiteral("--fps"), QStringLiteral("30")}));
    ASSERT_EQ(program.nextLine(), QStringLiteral("test-screen ready 1280x800 fps=30"));

    Display display(server.display());
    ASSERT_TRUE(display.connected());
    const ScreenFrame firstGrab = display.grab();
    const auto first = readTestScreenStamp(firstGrab.pixels.data(), firstGrab.width, firstGrab.height, firstGrab.stride);
    ASSERT_TRUE(first) << "the ready line comes after the first frame is on screen";
    const auto later = display.waitForStamp([&](const TestScreenStamp& s) { return s.frame >= first->frame + 10; });
    ASSERT_TRUE(later) << "the frame number stopped at " << first->frame;
    const std::uint64_t looked = monotonicMicroseconds();

    // Microseconds of the same monotonic clock as ours, taken while the program ran.
    EXPECT_GE(first->drawnAtMicroseconds, launched);
    EXPECT_LE(later->drawnAtMicroseconds, looked);
    // Frames come no faster than the rate: at least one period apart (half of it, for the
    // scheduling of a busy machine).
    EXPECT_GE(later->drawnAtMicroseconds - first->drawnAtMicroseconds,
              std::uint64_t{later->frame - first->frame} * 1'000'000u / 30u / 2u);

    // The content moves, not only the stamp.
    const ScreenFrame laterGrab = display.grab();
    const auto area = testScreenStampArea();
    const auto below = [&](const ScreenFrame& frame) {
        const auto start = frame.pixels.begin() + static_cast<std::ptrdiff_t>(area.height) * frame.stride;
        return std::vector<std::uint8_t>(start, start + 200 * frame.stride);
    };
    EXPECT_NE(below(firstGrab), below(laterGrab));
}

TEST(TestScreenProgramTest, FramesMissedWhileHeldUpAreSkippedNotDrawnInABurst)
{
    XvfbServer server;
    ASSERT_FALSE(server.display().isEmpty()) << "Xvfb did not start";
    constexpr std::uint64_t kPeriod = 10'000; // microseconds, at 100 fps
    TestScreen program(on(server, {QStringLiteral("--fps"), QStringLiteral("100")}));
    ASSERT_TRUE(kReadyLine.match(program.nextLine()).hasMatch());
    Display display(server.display());

    // Held up for half a second: 50 frames fall due meanwhile.
    program.signal(SIGSTOP);
    const auto held = display.stamp();
    ASSERT_TRUE(held);
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < 500) {
        ASSERT_EQ(display.stamp(), held) << "the program was to be stopped";
    }
    const std::uint64_t resumed = monotonicMicroseconds();
    program.signal(SIGCONT);

    // The first frame after comes at once, the next ones at the rate again. (The frame seen
    // while held may be one before the last one drawn, hence the slack of a frame.)
    int looks = 0;
    const auto after = display.waitForStamp([&](const TestScreenStamp& seen) {
        ++looks;
        if (seen.frame > held->frame + 3) {
            EXPECT_GE(seen.drawnAtMicroseconds - resumed, (seen.frame - held->frame - 3) * kPeriod / 2)
                << "frame " << seen.frame << " after " << held->frame;
        }
        return seen.frame >= held->frame + 20;
    });
    EXPECT_TRUE(after);
    std::printf("%d grabs while 20 frames came after the hold\n", looks);
}

TEST(TestScreenProgramTest, AStaticScreenKeepsItsStamp)
{
    XvfbServer server;
    ASSERT_FALSE(server.display().isEmpty()) << "Xvfb did not start";
    TestScreen program(on(server, {QStringLiteral("--static")}));
    ASSERT_EQ(program.nextLine(), QStringLiteral("test-screen ready 1280x800 fps=0"));

    Display display(server.display());
    const auto first = display.stamp();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->frame, 0u);
    // Half a second of grabs: 15 frames at the default rate, had it been animating.
    QElapsedTimer elapsed;
    elapsed.start();
    int grabs = 0;
    while (elapsed.elapsed() < 500) {
        ASSERT_EQ(display.stamp(), first) << "after " << elapsed.elapsed() << " ms";
        ++grabs;
    }
    EXPECT_GE(grabs, 2);
}

TEST(TestScreenProgramTest, EndsCleanlyOnAStopSignalOrAfterItsFrames)
{
    XvfbServer server;
    ASSERT_FALSE(server.display().isEmpty()) << "Xvfb did not start";
    struct Case {
        const char* name;
        QStringList arguments;
        int signal; // 0: none, the program ends by itself
    };
    const Case cases[] = {
        {"animating, SIGTERM", {}, SIGTERM},
        {"animating, SIGINT", {}, SIGINT},
        {"animating at 1 fps, SIGTERM while it sleeps", {QStringLiteral("--fps"), QStringLiteral("1")}, SIGTERM},
        {"static, SIGTERM", {QStringLiteral("--static")}, SIGTERM},
        {"static, SIGINT", {QStringLiteral("--static")}, SIGINT},
        {"after 3 frames", {QStringLiteral("--frames"), QStringLiteral("3")}, 0},
    };
    for (const auto& c : cases) {
        TestScreen program(on(server, c.arguments));
        EXPECT_TRUE(kReadyLine.match(program.nextLine()).hasMatch()) << c.name;
        if (c.signal != 0) {
            program.signal(c.signal);
        }
        EXPECT_EQ(program.exitCode(), 0) << c.name;
        EXPECT_EQ(program.standardError(), QString()) << c.name;
    }
}

TEST(TestScreenProgramTest, FollowsTheRootWindowWhenTheScreenIsResized)
{
    XvfbServer server;
    ASSERT_FALSE(server.display().isEmpty()) << "Xvfb did not start";
    for (const char* mode : {"--fps=30", "--static"}) {
        // The server cannot grow past the size it started with: the program starts on a smaller
        // screen, so that its window and pixmap have to grow as well as shrink.
        Display display(server.display());
        ASSERT_EQ(display.resizeRoot(1024, 640), "");
        TestScreen program(on(server, {QLatin1String(mode)}));
        const auto ready = kReadyLine.match(program.nextLine());
        ASSERT_TRUE(ready.hasMatch()) << mode;
        ASSERT_EQ(ready.captured(1) + "x" + ready.captured(2), QStringLiteral("1024x640"));

        for (const auto& [width, height] : {std::pair{1280, 800}, std::pair{800, 500}}) {
            ASSERT_EQ(display.resizeRoot(width, height), "");
            EXPECT_EQ(program.nextLine(), QStringLiteral("test-screen resized %1x%2").arg(width).arg(height)) << mode;
            EXPECT_EQ(display.windowSizes(), (std::vector<std::pair<int, int>>{{width, height}})) << mode;
            const ScreenFrame grab = display.grab();
            ASSERT_EQ(grab.width, width);
            EXPECT_TRUE(readTestScreenStamp(grab.pixels.data(), grab.width, grab.height, grab.stride)) << mode;
            // The band at the right edge is background from top to bottom; a part of the window
            // that no frame reached would show its black background.
            const std::uint32_t background = colourAt(grab, width - 4, 4);
            EXPECT_NE(background, 0u) << mode;
            EXPECT_EQ(colourAt(grab, width - 4, height - 4), background) << mode << " at " << width << "x" << height;
        }
        program.signal(SIGTERM);
        EXPECT_EQ(program.exitCode(), 0) << mode;
    }
}
