#pragma once

#include "platform/ScreenFrame.h"
#include "platform/ScreenRect.h"
#include "platform/linux/XcbConnection.h"

#include <QString>

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace doorwarden {

// The test's own X client: it draws and moves the pointer the way other applications would,
// and waits until the server has dealt with what it sent.
class XcbTestClient {
public:
    explicit XcbTestClient(const QString& display)
        : connection_(xcb_connect(display.toLocal8Bit().constData(), nullptr))
    {
    }
    ~XcbTestClient() { xcb_disconnect(connection_); }
    XcbTestClient(const XcbTestClient&) = delete;
    XcbTestClient& operator=(const XcbTestClient&) = delete;

    bool isConnected() const { return xcb_connection_has_error(connection_) == 0; }
    xcb_connection_t* get() const { return connection_; }
    xcb_window_t root() const { return xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root; }

    // Returns once the server has handled everything sent so far and written what it caused to
    // every client, events for the code under test included. The first answer proves only that
    // the requests were handled: the server writes to its clients one after the other, and may
    // not yet have written to the others. It reads the second question only after that round
    // of writes, so the second answer proves the rest.
    void settle()
    {
        for (int i = 0; i < 2; ++i) {
            std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
        }
    }

    // Fills `rect` of the root window with the pixel `rgb` (0xRRGGBB on a 24-bit screen).
    void fill(const ScreenRect& rect, std::uint32_t rgb)
    {
        if (gc_ == XCB_NONE) {
            gc_ = xcb_generate_id(connection_);
            xcb_create_gc(connection_, gc_, root(), 0, nullptr);
        }
        xcb_change_gc(connection_, gc_, XCB_GC_FOREGROUND, &rgb);
        const xcb_rectangle_t rectangle {static_cast<std::int16_t>(rect.x), static_cast<std::int16_t>(rect.y),
            static_cast<std::uint16_t>(rect.width), static_cast<std::uint16_t>(rect.height)};
        xcb_poly_fill_rectangle(connection_, root(), gc_, 1, &rectangle);
    }

    // The whole root window as the server shows it now; empty when it does not answer.
    ScreenFrame screenshot()
    {
        xcb_flush(connection_);
        const XcbReply<xcb_get_geometry_reply_t> geometry(
            xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, root()), nullptr));
        if (!geometry) {
            return {};
        }
        const XcbReply<xcb_get_image_reply_t> image(xcb_get_image_reply(
            connection_,
            xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, root(), 0, 0, geometry->width, geometry->height, ~0u),
            nullptr));
        if (!image) {
            return {};
        }
        const std::uint8_t* data = xcb_get_image_data(image.get());
        return ScreenFrame{geometry->width, geometry->height, geometry->width * 4,
                           std::vector<std::uint8_t>(data, data + xcb_get_image_data_length(image.get()))};
    }

    void warpPointer(int x, int y)
    {
        xcb_warp_pointer(
            connection_, XCB_NONE, root(), 0, 0, 0, 0, static_cast<std::int16_t>(x), static_cast<std::int16_t>(y));
    }

private:
    xcb_connection_t* connection_;
    xcb_gcontext_t gc_ = XCB_NONE;
};

} // namespace doorwarden
