#pragma once

#include "testscreen/TestScreenStamp.h"

#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace doorwarden {

// Draws the test screen's frames on an X display: an override-redirect window over the whole
// root window (no window manager is expected) and a pixmap of the same size behind it. A frame
// is drawn into the pixmap (drawScene, then drawStamp) and shown with one copy to the window
// (present), so a screen grab sees either the previous frame or the whole new one.
//
// The scene depends only on the frame number and the size: a light background, lines of
// text-like strokes that scroll up 2 pixels a frame, and a coloured box crossing the screen
// (its colour changes with each crossing). A 24-pixel band at the right edge is always
// background. The window's own background is black, so a part of it that no frame reached
// stands out.
//
// The painter does not own the connection, which must outlive it; it only sends requests and
// reads no events. Destroying it destroys the window and the pixmap.
class TestScreenPainter {
public:
    static constexpr int kEdgeBand = 24;

    // A mapped window over the root window of `screen`, `width` x `height`; absent, with the
    // reason in `error`, when the screen's visual is not TrueColor.
    static std::unique_ptr<TestScreenPainter> create(xcb_connection_t* connection, const xcb_screen_t& screen,
                                                     int width, int height, std::string& error);
    ~TestScreenPainter();
    TestScreenPainter(const TestScreenPainter&) = delete;
    TestScreenPainter& operator=(const TestScreenPainter&) = delete;

    // Gives the window and the pixmap a new size; the pixmap's content is undefined until the
    // next drawScene. Nothing happens when the size stays.
    void resize(int width, int height);

    // Draws frame `frame` of the scene into the pixmap, then the stamp over it.
    void drawScene(std::uint32_t frame);
    void drawStamp(const TestScreenStamp& stamp);
    // Copies the pixmap to the window with one request and flushes the connection.
    void present();

    int width() const { return width_; }
    int height() const { return height_; }

private:
    struct ChannelMask {
        int shift = 0;
        int bits = 0;
    };

    TestScreenPainter(xcb_connection_t* connection, const xcb_screen_t& screen, const xcb_visualtype_t& visual,
                      int width, int height);
    std::uint32_t pixel(std::uint8_t red, std::uint8_t green, std::uint8_t blue) const;
    void fill(std::uint32_t colour, const std::vector<xcb_rectangle_t>& rectangles);
    void addTextLines(std::uint32_t frame, std::vector<xcb_rectangle_t>& strokes) const;

    xcb_connection_t* connection_;
    xcb_window_t root_;
    std::uint8_t depth_;
    ChannelMask red_;
    ChannelMask green_;
    ChannelMask blue_;
    int width_;
    int height_;
    xcb_window_t window_ = 0;
    xcb_pixmap_t pixmap_ = 0;
    xcb_gcontext_t gc_ = 0;
};

} // namespace doorwarden
