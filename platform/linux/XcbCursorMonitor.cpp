#include "platform/linux/XcbCursorMonitor.h"

#include "platform/linux/XcbConnection.h"

#include <algorithm>

namespace doorwarden {

namespace {

// The CursorImage serial of an XFIXES cursor serial: never 0, which means "no shape".
std::uint64_t imageSerial(std::uint32_t xSerial)
{
    return std::uint64_t {xSerial} + 1;
}

// XFIXES pixels carry colour premultiplied by alpha; CursorImage's do not. A fully transparent
// pixel has no colour to recover and becomes 0.
std::uint32_t unpremultiply(std::uint32_t argb)
{
    const std::uint32_t alpha = argb >> 24;
    if (alpha == 0xff) {
        return argb;
    }
    if (alpha == 0) {
        return 0;
    }
    std::uint32_t result = alpha << 24;
    for (const int shift : {16, 8, 0}) {
        const std::uint32_t channel = (argb >> shift) & 0xff;
        result |= std::min<std::uint32_t>((channel * 0xff + alpha / 2) / alpha, 0xff) << shift;
    }
    return result;
}

// The reply's pixels, or null when it holds fewer than its size says.
const std::uint32_t* cursorPixels(const xcb_xfixes_get_cursor_image_reply_t& reply)
{
    const std::size_t count = std::size_t {reply.width} * reply.height;
    const int length = xcb_xfixes_get_cursor_image_cursor_image_length(&reply);
    return length >= 0 && static_cast<std::size_t>(length) >= count ? xcb_xfixes_get_cursor_image_cursor_image(&reply)
                                                                    : nullptr;
}

} // namespace

XcbCursorMonitor::XcbCursorMonitor(std::string display)
    : display_(std::move(display))
{
}

XcbCursorMonitor::~XcbCursorMonitor() = default;

XcbConnection* XcbCursorMonitor::connection()
{
    if (!connectTried_) {
        connectTried_ = true;
        auto connection = std::make_unique<XcbConnection>(display_);
        if (connection->isOpen()) {
            xcb_connection_t* c = connection->get();
            if (connection->offers(xcb_xfixes_id)) {
                // XFIXES answers only clients that asked for its version first.
                const XcbReply<xcb_xfixes_query_version_reply_t> version(xcb_xfixes_query_version_reply(
                    c, xcb_xfixes_query_version(c, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION), nullptr));
                hasFixes_ = version && version->major_version >= 1;
            }
            if (hasFixes_) {
                cursorNotifyEvent_ =
                    static_cast<std::uint8_t>(connection->firstEvent(xcb_xfixes_id) + XCB_XFIXES_CURSOR_NOTIFY);
                xcb_xfixes_select_cursor_input(c, connection->root(), XCB_XFIXES_CURSOR_NOTIFY_MASK_DISPLAY_CURSOR);
                xcb_flush(c);
            }
            connection_ = std::move(connection);
        }
    }
    return connection_ && connection_->isOpen() ? connection_.get() : nullptr;
}

void XcbCursorMonitor::processEvents()
{
    while (const XcbReply<xcb_generic_event_t> event {xcb_poll_for_event(connection_->get())}) {
        if (hasFixes_ && (event->response_type & 0x7f) == cursorNotifyEvent_) {
            shownSerial_ = reinterpret_cast<const xcb_xfixes_cursor_notify_event_t*>(event.get())->cursor_serial;
        }
    }
}

void XcbCursorMonitor::noteShape(const xcb_xfixes_get_cursor_image_reply_t& reply)
{
    const std::uint32_t* pixels = cursorPixels(reply);
    const std::size_t count = std::size_t {reply.width} * reply.height;
    shownSerial_ = reply.cursor_serial;
    lastShape_ = ShapeFacts {reply.cursor_serial,
        std::all_of(pixels, pixels + count, [](std::uint32_t pixel) { return (pixel >> 24) == 0; })};
}

std::optional<ScreenPoint> XcbCursorMonitor::pointerPosition()
{
    XcbConnection* connection = this->connection();
    if (connection == nullptr) {
        return std::nullopt;
    }
    xcb_connection_t* c = connection->get();
    const XcbReply<xcb_query_pointer_reply_t> pointer(
        xcb_query_pointer_reply(c, xcb_query_pointer(c, connection->root()), nullptr));
    // On another screen of the display the coordinates are that screen's root's.
    if (!pointer || !pointer->same_screen) {
        return std::nullopt;
    }
    return ScreenPoint {pointer->root_x, pointer->root_y};
}

bool XcbCursorMonitor::updateCursorImage(CursorImage& image)
{
    XcbConnection* connection = this->connection();
    if (connection == nullptr || !hasFixes_) {
        return false;
    }
    processEvents();
    if (shownSerial_ && imageSerial(*shownSerial_) == image.serial) {
        return false;
    }
    xcb_connection_t* c = connection->get();
    const XcbReply<xcb_xfixes_get_cursor_image_reply_t> reply(
        xcb_xfixes_get_cursor_image_reply(c, xcb_xfixes_get_cursor_image(c), nullptr));
    if (!reply || cursorPixels(*reply) == nullptr) {
        return false;
    }
    noteShape(*reply);
    if (imageSerial(reply->cursor_serial) == image.serial) {
        return false;
    }
    const std::uint32_t* pixels = cursorPixels(*reply);
    image.width = reply->width;
    image.height = reply->height;
    image.hotspotX = reply->xhot;
    image.hotspotY = reply->yhot;
    image.pixels.resize(std::size_t {reply->width} * reply->height);
    std::transform(pixels, pixels + image.pixels.size(), image.pixels.begin(), unpremultiply);
    image.serial = imageSerial(reply->cursor_serial);
    return true;
}

bool XcbCursorMonitor::isCursorVisible()
{
    XcbConnection* connection = this->connection();
    if (connection == nullptr || !hasFixes_) {
        return false;
    }
    xcb_connection_t* c = connection->get();
    // Both questions go out before either answer is awaited.
    const auto pointerCookie = xcb_query_pointer(c, connection->root());
    processEvents();
    std::optional<xcb_xfixes_get_cursor_image_cookie_t> imageCookie;
    if (!shownSerial_ || !lastShape_ || lastShape_->xSerial != *shownSerial_) {
        imageCookie = xcb_xfixes_get_cursor_image(c);
    }
    const XcbReply<xcb_query_pointer_reply_t> pointer(xcb_query_pointer_reply(c, pointerCookie, nullptr));
    if (imageCookie) {
        const XcbReply<xcb_xfixes_get_cursor_image_reply_t> reply(
            xcb_xfixes_get_cursor_image_reply(c, *imageCookie, nullptr));
        if (!reply || cursorPixels(*reply) == nullptr) {
            return false;
        }
        noteShape(*reply);
    }
    return pointer && pointer->same_screen && lastShape_ && !lastShape_->transparent;
}

} // namespace doorwarden
