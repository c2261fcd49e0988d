#pragma once

#include "testscreen/TestScreenOptions.h"
#include "testscreen/TestScreenStamp.h"

#include <xcb/xcb.h>

#include <cstdint>
#include <memory>

namespace doorwarden {

class TestScreenPainter;

// One run of doorwarden-test-screen: connects to the display, draws frames with a
// TestScreenPainter and keeps its window over the whole root window when the root changes size.
//
// Animating, frame n is due at start + n / fps on CLOCK_MONOTONIC (absolute deadlines, so the
// rate does not drift); a frame whose time has passed is skipped, never drawn late in a burst.
// The stamp's frame number counts the frames drawn (a gap seen downstream is a frame lost on the
// way, not one the program skipped); its time is taken just before the frame's copy is sent.
// With --static, one frame is drawn, then the program waits on X events and repaints the same
// frame, with the same stamp, after an exposure or a change of size.
//
// run() installs handlers for SIGTERM and SIGINT, which end it cleanly; one arriving while a
// frame is drawn ends the run after at most one more frame interval.
class TestScreenProgram {
public:
    explicit TestScreenProgram(TestScreenOptions options);
    ~TestScreenProgram();
    TestScreenProgram(const TestScreenProgram&) = delete;
    TestScreenProgram& operator=(const TestScreenProgram&) = delete;

    // Runs to the end: 0 after --frames frames or a stop signal, 1 when the display cannot be
    // used or is lost (the reason goes to standard error).
    int run();

private:
    bool connect();
    int animate();
    int stayStill();
    // Draws frame `frame` stamped with the time now, and shows it; returns the stamp.
    TestScreenStamp drawFrame(std::uint32_t frame);
    // Handles the X events that have arrived, without waiting; false when the connection broke
    // or the server reported an error.
    bool handleEvents();
    // Print their line once the server has shown what was drawn.
    void announceReady();
    void announceResized();
    void waitUntilShown();

    TestScreenOptions options_;
    xcb_connection_t* connection_ = nullptr;
    const xcb_screen_t* screen_ = nullptr;
    std::unique_ptr<TestScreenPainter> painter_;
    TestScreenStamp stillStamp_;
    bool resized_ = false; // the size changed; not announced yet
    bool exposed_ = false; // part of the window must be shown again
};

} // namespace doorwarden
