#include "platform/linux/XcbCursorMonitor.h"
#include "platform/ScopedEnvironment.h"
#include "platform/XcbTestClient.h"
#include "platform/linux/XcbConnection.h"
#include "support/XvfbServer.h"

#include <gtest/gtest.h>

#include <xcb/render.h>

#include <optional>
#include <string>
#include <vector>

using namespace doorwarden;

namespace {

// Pointer shapes and windows that wear them, as a toolkit makes them.
class CursorClient : public XcbTestClient {
public:
    using XcbTestClient::XcbTestClient;

    // A shape of `width` x `height` premultiplied 0xAARRGGBB pixels, made through RENDER as
    // toolkits make pointers with an alpha channel.
    xcb_cursor_t createCursor(
        int width, int height, const std::vector<std::uint32_t>& premultiplied, int hotspotX, int hotspotY)
    {
        xcb_connection_t* c = get();
        std::free(xcb_render_query_version_reply(c, xcb_render_query_version(c, 0, 11), nullptr));
        const xcb_render_pictformat_t format = argb32Format();
        EXPECT_NE(format, 0u) << "no ARGB32 picture format";
        const auto w = static_cast<std::uint16_t>(width);
        const auto h = static_cast<std::uint16_t>(height);
        const xcb_pixmap_t pixmap = xcb_generate_id(c);
        xcb_create_pixmap(c, 32, pixmap, root(), w, h);
        const xcb_gcontext_t gc = xcb_generate_id(c);
        xcb_create_gc(c, gc, pixmap, 0, nullptr);
        xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, gc, w, h, 0, 0, 0, 32,
            static_cast<std::uint32_t>(premultiplied.size() * 4),
            reinterpret_cast<const std::uint8_t*>(premultiplied.data()));
        const xcb_render_picture_t picture = xcb_generate_id(c);
        xcb_render_create_picture(c, picture, pixmap, format, 0, nullptr);
        const xcb_cursor_t cursor = xcb_generate_id(c);
        xcb_render_create_cursor(
            c, cursor, picture, static_cast<std::uint16_t>(hotspotX), static_cast<std::uint16_t>(hotspotY));
        xcb_render_free_picture(c, picture);
        xcb_free_gc(c, gc);
        xcb_free_pixmap(c, pixmap);
        return cursor;
    }

    // A mapped window that shows `cursor` while the pointer is over it.
    void showWindow(int x, int y, int width, int height, xcb_cursor_t cursor)
    {
        const xcb_window_t window = xcb_generate_id(get());
        const std::uint32_t values[] = {1, cursor}; // in the order of the mask's bits
        xcb_create_window(get(), XCB_COPY_FROM_PARENT, window, root(), static_cast<std::int16_t>(x),
            static_cast<std::int16_t>(y), static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height), 0,
            XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT | XCB_CW_CURSOR, values);
        xcb_map_window(get(), window);
    }

private:
    xcb_render_pictformat_t argb32Format()
    {
        const XcbReply<xcb_render_query_pict_formats_reply_t> formats(
            xcb_render_query_pict_formats_reply(get(), xcb_render_query_pict_formats(get()), nullptr));
        if (!formats) {
            return 0;
        }
        for (auto it = xcb_render_query_pict_formats_formats_iterator(formats.get()); it.rem > 0;
             xcb_render_pictforminfo_next(&it)) {
            const xcb_render_pictforminfo_t& f = *it.data;
            if (f.type == XCB_RENDER_PICT_TYPE_DIRECT && f.depth == 32 && f.direct.alpha_shift == 24 &&
                f.direct.alpha_mask == 0xff && f.direct.red_shift == 16 && f.direct.red_mask == 0xff &&
                f.direct.green_shift == 8 && f.direct.green_mask == 0xff && f.direct.blue_shift == 0 &&
                f.direct.blue_mask == 0xff) {
                return f.id;
            }
        }
        return 0;
    }
};

} // namespace

// A shape with an alpha channel comes back with its hotspot and its colours un-premultiplied;
// an unchanged shape is not copied again, and a shape seen before comes back with the serial
// it had.
TEST(XcbCursorMonitorTest, ReadsTheShapeUnderThePointer)
{
    XvfbServer server;
    ASSERT_FALSE(server.display().isEmpty()) << "Xvfb did not start";
    CursorClient x(server.display());

    struct Pixel {
        const char* name;
        std::uint32_t premultiplied;
        std::uint32_t straight;
    };
    const Pixel pixels[] = {
        {"opaque", 0xff1080f0, 0xff1080f0},
        {"opaque white", 0xffffffff, 0xffffffff},
        {"half transparent", 0x80400010, 0x80800020},
        {"a quarter opaque", 0x40201008, 0x40804020},
        {"fully transparent", 0x00000000, 0x00000000},
        {"faint", 0x01010000, 0x01ff0000},
        {"brighter than its alpha allows", 0x10ff0808, 0x10ff8080},
        {"half transparent black", 0x80000000, 0x80000000},
    };
    constexpr int width = 4;
    constexpr int height = 2;
    std::vector<std::uint32_t> premultiplied;
    std::vector<std::uint32_t> straight;
    for (const auto& p : pixels) {
        premultiplied.push_back(p.premultiplied);
        straight.push_back(p.straight);
    }
    const xcb_cursor_t cursor = x.createCursor(width, height, premultiplied, 3, 1);
    x.showWindow(200, 100, 400, 300, cursor);
    x.warpPointer(250, 150);
    x.settle();

    XcbCursorMonitor monitor(server.display().toStdString());
    CursorImage image;
    ASSERT_TRUE(monitor.updateCursorImage(image));
    EXPECT_EQ(image.width, width);
    EXPECT_EQ(image.height, height);
    EXPECT_EQ(image.hotspotX, 3);
    EXPECT_EQ(image.hotspotY, 1);
    ASSERT_EQ(image.pixels.size(), straight.size());
    for (std::size_t i = 0; i < straight.size(); ++i) {
        EXPECT_EQ(image.pixels[i], straight[i]) << pixels[i].name << ": " << std::hex << image.pixels[i];
    }
    EXPECT_NE(image.serial, 0u) << "0 means no shape";
    const CursorImage windowShape = image;

    struct Step {
        const char* name;
        int pointerX;
        int pointerY;
        bool changed;
        bool windowShapeShown;
    };
    const Step steps[] = {
        {"the same shape asked again", 250, 150, false, true},
        {"moved within the window", 260, 170, false, true},
        {"moved onto the root window", 1000, 700, true, false},
        {"the root's shape asked again", 1000, 700, false, false},
        {"back over the window", 250, 150, true, true},
    };
    CursorImage rootShape;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        x.warpPointer(step.pointerX, step.pointerY);
        x.settle();
        const CursorImage before = image;
        EXPECT_EQ(monitor.updateCursorImage(image), step.changed);
        if (!step.changed) {
            EXPECT_EQ(image, before) << "an unchanged shape must be left alone";
        }
        if (step.windowShapeShown) {
            EXPECT_EQ(image, windowShape);
        } else {
            EXPECT_NE(image.serial, windowShape.serial);
            EXPECT_NE(image.serial, 0u);
            EXPECT_FALSE(image.pixels.empty());
            if (rootShape.serial != 0) {
                EXPECT_EQ(image, rootShape);
            }
            rootShape = image;
        }
    }
}

TEST(XcbCursorMonitorTest, PointerPositionIsWhereThePointerWasMoved)
{
    XvfbServer server;
    ASSERT_FALSE(server.display().isEmpty()) << "Xvfb did not start";
    XcbTestClient x(server.display());
    XcbCursorMonitor monitor(server.display().toStdString());
    const ScreenPoint points[] = {{0, 0}, {1279, 799}, {17, 523}, {640, 400}, {1279, 0}};
    for (const auto& point : points) {
        x.warpPointer(point.x, point.y);
        x.settle();
        EXPECT_EQ(monitor.pointerPosition(), point) << "warped to " << point.x << "," << point.y;
    }
}

// Hidden means an empty shape, the way applications hide the pointer; each shape's answer is
// its own, also when a shape comes back.
TEST(XcbCursorMonitorTest, VisibleUnlessTheShapeIsEmpty)
{
    XvfbServer server;
    ASSERT_FALSE(server.display().isEmpty()) << "Xvfb did not start";
    CursorClient x(server.display());
    x.showWindow(0, 0, 300, 300, x.createCursor(2, 2, {0, 0, 0, 0}, 0, 0));
    x.showWindow(400, 0, 300, 300, x.createCursor(2, 2, {0, 0, 0x80400000, 0}, 1, 1));

    XcbCursorMonitor monitor(server.display().toStdString());
    struct Step {
        const char* name;
        int pointerX;
        int pointerY;
        bool visible;
    };
    const Step steps[] = {
        {"the server's default shape", 1000, 600, true},
        {"over the window with an empty shape", 100, 100, false},
        {"over the window with one half transparent pixel", 500, 100, true},
        {"back over the empty shape", 150, 150, false},
        {"back on the root window", 1000, 700, true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        x.warpPointer(step.pointerX, step.pointerY);
        x.settle();
        EXPECT_EQ(monitor.isCursorVisible(), step.visible);
    }
}

// The monitor connects on first use, to DISPLAY as it is then; without a server everything is
// unknown and the image is left as it was.
TEST(XcbCursorMonitorTest, ConnectsOnFirstUseAndKnowsNothingWithoutAServer)
{
    XvfbServer server;
    ASSERT_FALSE(server.display().isEmpty()) << "Xvfb did not start";
    {
        ScopedEnvironment environment;
        environment.unset("DISPLAY");
        XcbCursorMonitor monitor;
        environment.set("DISPLAY", server.display().toLocal8Bit());
        EXPECT_TRUE(monitor.pointerPosition().has_value());
        CursorImage image;
        EXPECT_TRUE(monitor.updateCursorImage(image));
        EXPECT_TRUE(monitor.isCursorVisible());
    }

    struct Case {
        const char* name;
        std::string display;
        std::optional<QByteArray> environment;
    };
    const Case cases[] = {
        {"DISPLAY unset", {}, std::nullopt},
        {"a display naming no server", ":4093", std::nullopt},
        {"DISPLAY naming no server", {}, QByteArray(":4093")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnvironment environment;
        if (c.environment) {
            environment.set("DISPLAY", *c.environment);
        } else {
            environment.unset("DISPLAY");
        }
        XcbCursorMonitor monitor(c.display);
        CursorImage image;
        image.serial = 7;
        image.pixels = {1, 2, 3};
        const CursorImage before = image;
        for (int call = 0; call < 2; ++call) {
            EXPECT_FALSE(monitor.pointerPosition().has_value());
            EXPECT_FALSE(monitor.updateCursorImage(image));
            EXPECT_EQ(image, before);
            EXPECT_FALSE(monitor.isCursorVisible());
        }
    }
}
