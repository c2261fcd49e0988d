#include "platform/linux/XcbScreenCapturer.h"

#include "platform/linux/XcbConnection.h"
#include "platform/linux/XcbMonitorWatch.h"
#include "platform/linux/XcbShmSegment.h"

#include <xcb/damage.h>
#include <xcb/shm.h>
#include <xcb/xcbext.h>
#include <xcb/xfixes.h>

#include <cstdio>
#include <optional>

namespace doorwarden {

namespace {

constexpr int kBytesPerPixel = 4;

std::string hex(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "%#x", value);
    return text;
}

// Why the root window's pixels are not 32-bit BGRX in memory; absent when they are.
std::optional<std::string> unsupportedPixelFormat(const xcb_setup_t& setup, const xcb_screen_t& screen)
{
    const xcb_visualtype_t* visual = nullptr;
    for (auto depths = xcb_screen_allowed_depths_iterator(&screen); depths.rem > 0 && visual == nullptr;
         xcb_depth_next(&depths)) {
        for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem > 0; xcb_visualtype_next(&visuals)) {
            if (visuals.data->visual_id == screen.root_visual) {
                visual = visuals.data;
                break;
            }
        }
    }
    int bitsPerPixel = 0;
    for (auto formats = xcb_setup_pixmap_formats_iterator(&setup); formats.rem > 0; xcb_format_next(&formats)) {
        if (formats.data->depth == screen.root_depth) {
            bitsPerPixel = formats.data->bits_per_pixel;
        }
    }
    const bool supported = visual != nullptr && visual->_class == XCB_VISUAL_CLASS_TRUE_COLOR &&
        visual->red_mask == 0xff0000 && visual->green_mask == 0x00ff00 && visual->blue_mask == 0x0000ff &&
        (screen.root_depth == 24 || screen.root_depth == 32) && bitsPerPixel == 32 &&
        setup.image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
    if (supported) {
        return std::nullopt;
    }
    std::string found =
        "depth " + std::to_string(screen.root_depth) + ", " + std::to_string(bitsPerPixel) + " bits per pixel, ";
    if (visual == nullptr) {
        found += "root visual not listed";
    } else {
        found += (visual->_class == XCB_VISUAL_CLASS_TRUE_COLOR ? "TrueColor"
                                                                : "visual class " + std::to_string(visual->_class)) +
            " with masks red " + hex(visual->red_mask) + " green " + hex(visual->green_mask) + " blue " +
            hex(visual->blue_mask);
    }
    found += setup.image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST ? ", least significant byte first"
                                                                 : ", most significant byte first";
    return "unsupported pixel format of the X screen: " + found +
        " (needed: TrueColor, depth 24 or 32, 32 bits per pixel, masks red 0xff0000 green 0xff00 blue 0xff, "
        "least significant byte first)";
}

bool intersects(const xcb_rectangle_t& a, const ScreenRect& b)
{
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

} // namespace

// Everything that exists between start() and stop(). The segment is declared after the
// connection: it detaches through it, so it must go first.
struct XcbScreenCapturer::Session {
    std::unique_ptr<XcbConnection> connection;
    std::unique_ptr<XcbMonitorWatch> layout;
    std::uint8_t damageEvent = 0;
    bool sharedMemory = false; // MIT-SHM is offered: try a segment for each monitor size
    bool passFileDescriptor = false;
    xcb_damage_damage_t damage = XCB_NONE;
    xcb_xfixes_region_t damagedRegion = XCB_NONE;

    ScreenRect monitor;
    std::unique_ptr<XcbShmSegment> segment; // null: plain GetImage
    XcbReply<xcb_get_image_reply_t> image;  // the last GetImage, which the caller's view shows
    bool damageNotified = false; // DAMAGE reported something not yet read back
    bool damaged = true; // nothing grabbed yet

    xcb_connection_t* c() const { return connection->get(); }
    xcb_window_t root() const { return connection->root(); }

    void prepareSegment()
    {
        segment.reset();
        if (sharedMemory && !monitor.isEmpty()) {
            segment = XcbShmSegment::create(c(),
                static_cast<std::size_t>(monitor.width) * static_cast<std::size_t>(monitor.height) * kBytesPerPixel,
                passFileDescriptor);
        }
    }
};

XcbScreenCapturer::XcbScreenCapturer(std::string display, ShmTransport shmTransport)
    : display_(std::move(display))
    , shmTransport_(shmTransport)
{
}

XcbScreenCapturer::~XcbScreenCapturer()
{
    stop();
}

StartResult XcbScreenCapturer::start()
{
    if (session_) {
        return StartResult::success();
    }
    auto session = std::make_unique<Session>();
    session->connection = std::make_unique<XcbConnection>(display_);
    XcbConnection& connection = *session->connection;
    if (std::string failure = connection.failure(); !failure.empty()) {
        return StartResult::failure(std::move(failure));
    }
    xcb_connection_t* c = connection.get();
    if (auto problem = unsupportedPixelFormat(*xcb_get_setup(c), *connection.screen())) {
        return StartResult::failure(std::move(*problem));
    }
    for (xcb_extension_t* needed : {&xcb_damage_id, &xcb_xfixes_id}) {
        if (!connection.offers(*needed)) {
            return StartResult::failure(std::string("the X server lacks the ") + needed->name + " extension");
        }
    }

    // DAMAGE and XFIXES refuse requests from clients that have not told them their version.
    const auto damageVersion = xcb_damage_query_version(c, XCB_DAMAGE_MAJOR_VERSION, XCB_DAMAGE_MINOR_VERSION);
    const auto fixesVersion = xcb_xfixes_query_version(c, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION);
    const XcbReply<xcb_damage_query_version_reply_t> damageReply(
        xcb_damage_query_version_reply(c, damageVersion, nullptr));
    const XcbReply<xcb_xfixes_query_version_reply_t> fixesReply(
        xcb_xfixes_query_version_reply(c, fixesVersion, nullptr));
    if (!damageReply || !fixesReply || fixesReply->major_version < 2) {
        return StartResult::failure("the X server's DAMAGE or XFIXES extension is too old (XFIXES 2 is needed)");
    }

    const xcb_window_t root = connection.root();
    session->damageEvent = connection.firstEvent(xcb_damage_id);
    session->damage = xcb_generate_id(c);
    xcb_damage_create(c, session->damage, root, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
    session->damagedRegion = xcb_generate_id(c);
    xcb_xfixes_create_region(c, session->damagedRegion, 0, nullptr);

    session->layout = std::make_unique<XcbMonitorWatch>(connection);

    if (connection.offers(xcb_shm_id)) {
        session->sharedMemory = true;
        session->passFileDescriptor =
            shmTransport_ == ShmTransport::fileDescriptorOrSysv && XcbShmSegment::serverTakesFileDescriptors(c);
    }
    session->monitor = session->layout->query();
    session->prepareSegment();
    if (std::string failure = connection.failure(); !failure.empty()) {
        return StartResult::failure(std::move(failure));
    }
    if (session->monitor.isEmpty()) {
        return StartResult::failure("the X screen shows no monitor");
    }
    session_ = std::move(session);
    return StartResult::success();
}

void XcbScreenCapturer::stop()
{
    session_.reset();
}

ScreenRect XcbScreenCapturer::monitorRect()
{
    if (!session_) {
        return {};
    }
    processEvents();
    return session_->monitor;
}

bool XcbScreenCapturer::hasDamage()
{
    if (!session_) {
        return false;
    }
    processEvents();
    Session& s = *session_;
    if (s.damageNotified) {
        s.damageNotified = false;
        // Moving the damage into our region also rearms DAMAGE: the next change reports again.
        xcb_damage_subtract(s.c(), s.damage, XCB_NONE, s.damagedRegion);
        const XcbReply<xcb_xfixes_fetch_region_reply_t> region(
            xcb_xfixes_fetch_region_reply(s.c(), xcb_xfixes_fetch_region(s.c(), s.damagedRegion), nullptr));
        if (!region) {
            s.damaged = true; // cannot tell: better one grab too many than a change missed
        } else {
            const xcb_rectangle_t* rectangles = xcb_xfixes_fetch_region_rectangles(region.get());
            const int count = xcb_xfixes_fetch_region_rectangles_length(region.get());
            for (int i = 0; i < count && !s.damaged; ++i) {
                s.damaged = intersects(rectangles[i], s.monitor);
            }
        }
    }
    return s.damaged;
}

bool XcbScreenCapturer::grab(ScreenFrameView& frame)
{
    if (!session_) {
        return false;
    }
    session_->image.reset(); // the previous grab's view ends with this call
    processEvents();
    Session& s = *session_;
    // Cleared before the pixels are read: whatever changes while they are read is damage for
    // the next call, never lost. The DAMAGE events read so far are older than this.
    xcb_damage_subtract(s.c(), s.damage, XCB_NONE, XCB_NONE);
    s.damageNotified = false;
    s.damaged = !readPixels(frame);
    return !s.damaged;
}

bool XcbScreenCapturer::readPixels(ScreenFrameView& frame)
{
    Session& s = *session_;
    const ScreenRect m = s.monitor;
    if (m.isEmpty()) {
        return false;
    }
    const std::size_t stride = static_cast<std::size_t>(m.width) * kBytesPerPixel;
    const std::size_t bytes = stride * static_cast<std::size_t>(m.height);
    const auto x = static_cast<std::int16_t>(m.x);
    const auto y = static_cast<std::int16_t>(m.y);
    const auto width = static_cast<std::uint16_t>(m.width);
    const auto height = static_cast<std::uint16_t>(m.height);
    const std::uint8_t* source = nullptr;

    // A rectangle that no longer fits the root window (its size changed and the notification is
    // still on its way) is refused with an error: no reply, and the grab fails.
    if (s.segment && s.segment->size() >= bytes) {
        // The server has written the segment when it answers, and writes it again only for the
        // next grab: the caller reads it in between.
        const XcbReply<xcb_shm_get_image_reply_t> reply(xcb_shm_get_image_reply(s.c(),
            xcb_shm_get_image(s.c(), s.root(), x, y, width, height, ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, s.segment->id(), 0),
            nullptr));
        if (!reply || reply->size != bytes) {
            return false;
        }
        source = s.segment->data();
    } else {
        s.image.reset(xcb_get_image_reply(
            s.c(), xcb_get_image(s.c(), XCB_IMAGE_FORMAT_Z_PIXMAP, s.root(), x, y, width, height, ~0u), nullptr));
        if (!s.image || static_cast<std::size_t>(xcb_get_image_data_length(s.image.get())) != bytes) {
            s.image.reset();
            return false;
        }
        source = xcb_get_image_data(s.image.get());
    }

    frame.width = m.width;
    frame.height = m.height;
    frame.stride = static_cast<int>(stride);
    frame.pixels = std::span(source, bytes);
    return true;
}

std::uint64_t XcbScreenCapturer::displayLayoutSerial()
{
    if (session_) {
        processEvents();
    }
    return layoutSerial_;
}

void XcbScreenCapturer::processEvents()
{
    Session& s = *session_;
    bool layoutChanged = false;
    while (const XcbReply<xcb_generic_event_t> event {xcb_poll_for_event(s.c())}) {
        // Errors of requests nobody waits on (type 0) are dropped: the replies that matter are
        // checked where they are read.
        const std::uint8_t type = event->response_type & 0x7f;
        if (type == s.damageEvent + XCB_DAMAGE_NOTIFY) {
            s.damageNotified = true;
        } else if (s.layout->isLayoutChange(*event)) {
            layoutChanged = true;
        }
    }
    if (layoutChanged) {
        followLayout();
    }
}

void XcbScreenCapturer::followLayout()
{
    Session& s = *session_;
    ++layoutSerial_;
    s.damaged = true;
    const ScreenRect monitor = s.layout->query();
    const bool resized = monitor.width != s.monitor.width || monitor.height != s.monitor.height;
    s.monitor = monitor;
    if (resized) {
        s.prepareSegment();
    }
}

} // namespace doorwarden
