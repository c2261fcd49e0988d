#include "testscreen/TestScreenProgram.h"

#include "testscreen/TestScreenPainter.h"

#include <poll.h>
#include <signal.h>
#include <time.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

namespace doorwarden {

namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;

volatile std::sig_atomic_t stopRequested = 0;

extern "C" void requestStop(int)
{
    stopRequested = 1;
}

std::int64_t monotonicNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * kNanosecondsPerSecond + now.tv_nsec;
}

// Sleeps until `due` on CLOCK_MONOTONIC, or until a stop signal.
void sleepUntil(std::int64_t due)
{
    const timespec until{static_cast<time_t>(due / kNanosecondsPerSecond), static_cast<long>(due % kNanosecondsPerSecond)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR && stopRequested == 0) {
    }
}

template <typename Reply>
using ReplyPointer = std::unique_ptr<Reply, decltype(&std::free)>;

} // namespace

TestScreenProgram::TestScreenProgram(TestScreenOptions options)
    : options_(std::move(options))
{
}

TestScreenProgram::~TestScreenProgram()
{
    painter_.reset();
    if (connection_ != nullptr) {
        xcb_disconnect(connection_);
    }
}

int TestScreenProgram::run()
{
    struct sigaction action{};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    if (!connect()) {
        return 1;
    }
    return options_.still ? stayStill() : animate();
}

bool TestScreenProgram::connect()
{
    int screenNumber = 0;
    connection_ = xcb_connect(options_.display.c_str(), &screenNumber);
    if (xcb_connection_has_error(connection_) != 0) {
        std::fprintf(stderr, "doorwarden-test-screen: cannot connect to the X display '%s'\n", options_.display.c_str());
        return false;
    }
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int skip = 0; skip < screenNumber && screens.rem > 0; ++skip) {
        xcb_screen_next(&screens);
    }
    if (screens.rem == 0) {
        std::fprintf(stderr, "doorwarden-test-screen: the X display '%s' has no screen %d\n", options_.display.c_str(),
                     screenNumber);
        return false;
    }
    screen_ = screens.data;

    // The size is asked for after the change events are selected, so that no change falls between.
    const std::uint32_t events[] = {XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    xcb_change_window_attributes(connection_, screen_->root, XCB_CW_EVENT_MASK, events);
    const ReplyPointer<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, screen_->root), nullptr), std::free);
    if (!geometry) {
        std::fprintf(stderr, "doorwarden-test-screen: cannot read the size of the root window\n");
        return false;
    }
    std::string error;
    painter_ = TestScreenPainter::create(connection_, *screen_, geometry->width, geometry->height, error);
    if (!painter_) {
        std::fprintf(stderr, "doorwarden-test-screen: %s\n", error.c_str());
        return false;
    }
    return true;
}

int TestScreenProgram::animate()
{
    const std::int64_t period = kNanosecondsPerSecond / options_.fps;
    const std::int64_t start = monotonicNanoseconds();
    std::int64_t slot = 0;
    std::uint64_t drawn = 0;
    while (stopRequested == 0) {
        if (!handleEvents()) {
            return 1;
        }
        drawFrame(static_cast<std::uint32_t>(drawn));
        ++drawn;
        if (drawn == 1) {
            announceReady();
        }
        if (resized_) {
            announceResized();
        }
        if (options_.frames != 0 && drawn >= options_.frames) {
            break;
        }
        ++slot;
        const std::int64_t now = monotonicNanoseconds();
        if (start + slot * period <= now) {
            slot = (now - start) / period + 1;
        }
        sleepUntil(start + slot * period);
    }
    return 0;
}

int TestScreenProgram::stayStill()
{
    // The stop signals are let in only while waiting, so one cannot slip in between the check
    // of the flag and the wait and leave the program asleep.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &stopSignals, &previous);
    sigset_t waiting = previous;
    sigdelset(&waiting, SIGTERM);
    sigdelset(&waiting, SIGINT);

    stillStamp_ = drawFrame(0);
    announceReady();
    pollfd connection{xcb_get_file_descriptor(connection_), POLLIN, 0};
    int status = 0;
    while (stopRequested == 0) {
        if (!handleEvents()) {
            status = 1;
            break;
        }
        if (resized_) {
            painter_->drawScene(stillStamp_.frame);
            painter_->drawStamp(stillStamp_);
            painter_->present();
            announceResized();
        } else if (exposed_) {
            painter_->present();
        }
        exposed_ = false;
        if (stopRequested == 0 && ppoll(&connection, 1, nullptr, &waiting) < 0 && errno != EINTR) {
            std::fprintf(stderr, "doorwarden-test-screen: waiting for the X display failed: %s\n", std::strerror(errno));
            status = 1;
            break;
        }
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    return status;
}

TestScreenStamp TestScreenProgram::drawFrame(std::uint32_t frame)
{
    painter_->drawScene(frame);
    const TestScreenStamp stamp{frame, static_cast<std::uint64_t>(monotonicNanoseconds() / 1000)};
    painter_->drawStamp(stamp);
    painter_->present();
    return stamp;
}

bool TestScreenProgram::handleEvents()
{
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        const ReplyPointer<xcb_generic_event_t> owned(event, std::free);
        switch (event->response_type & 0x7F) {
        case 0: {
            const auto* error = reinterpret_cast<const xcb_generic_error_t*>(event);
            std::fprintf(stderr, "doorwarden-test-screen: X error %u on request %u.%u\n", error->error_code,
                         error->major_code, error->minor_code);
            return false;
        }
        case XCB_CONFIGURE_NOTIFY: {
            const auto* configure = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
            if (configure->window == screen_->root &&
                (configure->width != painter_->width() || configure->height != painter_->height())) {
                painter_->resize(configure->width, configure->height);
                resized_ = true;
            }
            break;
        }
        case XCB_EXPOSE:
            exposed_ = true;
            break;
        default:
            break;
        }
    }
    if (xcb_connection_has_error(connection_) != 0) {
        std::fprintf(stderr, "doorwarden-test-screen: lost the connection to the X display\n");
        return false;
    }
    return true;
}

void TestScreenProgram::announceReady()
{
    waitUntilShown();
    std::printf("test-screen ready %dx%d fps=%d\n", painter_->width(), painter_->height(),
                options_.still ? 0 : options_.fps);
    std::fflush(stdout);
}

void TestScreenProgram::announceResized()
{
    waitUntilShown();
    std::printf("test-screen resized %dx%d\n", painter_->width(), painter_->height());
    std::fflush(stdout);
    resized_ = false;
}

// A reply comes after the server has carried out every request sent before its request.
void TestScreenProgram::waitUntilShown()
{
    const ReplyPointer<xcb_get_input_focus_reply_t> reply(
        xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr), std::free);
}

} // namespace doorwarden
