#pragma once

#include "platform/ScreenCapturer.h"

#include <memory>
#include <string>

namespace doorwarden {

// The screen capturer of an X11 desktop, through xcb. It captures the RandR monitor that
// queryCapturedMonitor() picks (the primary one) and needs a TrueColor root window whose pixels
// are 32-bit BGRX in memory (depth 24 or 32, red 0xff0000, green 0x00ff00, blue 0x0000ff,
// least significant byte first); other servers fail to start with the reason.
//
// Pictures come through MIT-SHM shared memory private to this client and the server (see
// XcbShmSegment), or through plain GetImage when the server cannot share memory with it; a grab
// hands out a view of that memory (or of the GetImage reply, kept until the next call) without
// copying it.
// Changes come from DAMAGE on the root window, reported once per change from "nothing damaged"
// (not one event per drawing, so a busy screen does not flood the connection); hasDamage() then
// reads the damaged region and counts it only where it meets the captured monitor. Layout
// changes come from RandR notifications and the root window's ConfigureNotify (XcbMonitorWatch).
//
// The connection opens in start(), on the capture runner, and closes in stop(). Nothing blocks
// on events: each call reads those that have arrived and goes on.
class XcbScreenCapturer final : public ScreenCapturer {
public:
    // How the shared memory reaches the server. `sysv` is what servers before MIT-SHM 1.2 get;
    // choosing it on a newer server lets that path run where it would not otherwise.
    enum class ShmTransport { fileDescriptorOrSysv, sysv };

    // `display` as in $DISPLAY; empty: the DISPLAY of the environment when start() runs.
    explicit XcbScreenCapturer(
        std::string display = {}, ShmTransport shmTransport = ShmTransport::fileDescriptorOrSysv);
    ~XcbScreenCapturer() override;
    XcbScreenCapturer(const XcbScreenCapturer&) = delete;
    XcbScreenCapturer& operator=(const XcbScreenCapturer&) = delete;

    StartResult start() override;
    void stop() override;
    ScreenRect monitorRect() override;
    bool hasDamage() override;
    bool grab(ScreenFrameView& frame) override;
    std::uint64_t displayLayoutSerial() override;

private:
    struct Session;

    // Reads the events that have arrived, without waiting for more, and follows a layout change.
    void processEvents();
    void followLayout();
    bool readPixels(ScreenFrameView& frame);

    const std::string display_;
    const ShmTransport shmTransport_;
    std::unique_ptr<Session> session_; // while running
    std::uint64_t layoutSerial_ = 0; // kept across restarts, so that it never moves back
};

} // namespace doorwarden
