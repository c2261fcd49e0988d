#include "testscreen/TestScreenPainter.h"

#include <algorithm>
#include <bit>
#include <cstddef>

namespace doorwarden {

namespace {

constexpr int kLineHeight = 18;
constexpr int kScrollStep = 2;
constexpr int kStrokeHeight = 10;
constexpr int kTallStroke = 3; // ascenders reach this much higher
constexpr int kBoxWidth = 160;
constexpr int kBoxHeight = 100;
constexpr int kBoxStep = 6;
// A fill request stays below the core protocol's request size, with or without BIG-REQUESTS.
constexpr std::size_t kRectanglesPerRequest = 16000;

// A fixed pseudo-random sequence per text line (splitmix64), so a line looks the same in every
// frame while it scrolls.
class LineRandom {
public:
    // Seeded with the line's mixed number: lines seeded with plain neighbouring numbers would
    // repeat each other's sequence one step later.
    explicit LineRandom(std::int64_t line)
        : state_(mix(static_cast<std::uint64_t>(line)))
    {
    }

    int below(int bound)
    {
        state_ += 0x9E3779B97F4A7C15ull;
        return static_cast<int>(mix(state_) % static_cast<std::uint64_t>(bound));
    }

private:
    static std::uint64_t mix(std::uint64_t z)
    {
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    std::uint64_t state_;
};

xcb_rectangle_t rectangle(std::int64_t x, std::int64_t y, int width, int height)
{
    return {static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), static_cast<std::uint16_t>(width),
            static_cast<std::uint16_t>(height)};
}

const xcb_visualtype_t* findVisual(const xcb_screen_t& screen)
{
    for (auto depths = xcb_screen_allowed_depths_iterator(&screen); depths.rem > 0; xcb_depth_next(&depths)) {
        for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem > 0; xcb_visualtype_next(&visuals)) {
            if (visuals.data->visual_id == screen.root_visual) {
                return visuals.data;
            }
        }
    }
    return nullptr;
}

} // namespace

std::unique_ptr<TestScreenPainter> TestScreenPainter::create(xcb_connection_t* connection,
                                                             const xcb_screen_t& screen, int width, int height,
                                                             std::string& error)
{
    const xcb_visualtype_t* visual = findVisual(screen);
    if (visual == nullptr || visual->_class != XCB_VISUAL_CLASS_TRUE_COLOR) {
        error = "the screen's visual is not TrueColor";
        return nullptr;
    }
    return std::unique_ptr<TestScreenPainter>(new TestScreenPainter(connection, screen, *visual, width, height));
}

TestScreenPainter::TestScreenPainter(xcb_connection_t* connection, const xcb_screen_t& screen,
                                     const xcb_visualtype_t& visual, int width, int height)
    : connection_(connection)
    , root_(screen.root)
    , depth_(screen.root_depth)
    , red_{std::countr_zero(visual.red_mask), std::popcount(visual.red_mask)}
    , green_{std::countr_zero(visual.green_mask), std::popcount(visual.green_mask)}
    , blue_{std::countr_zero(visual.blue_mask), std::popcount(visual.blue_mask)}
    , width_(width)
    , height_(height)
{
    window_ = xcb_generate_id(connection_);
    const std::uint32_t windowValues[] = {pixel(0, 0, 0), 1, XCB_EVENT_MASK_EXPOSURE};
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, root_, 0, 0, static_cast<std::uint16_t>(width_),
                      static_cast<std::uint16_t>(height_), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen.root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, windowValues);
    pixmap_ = xcb_generate_id(connection_);
    xcb_create_pixmap(connection_, depth_, pixmap_, root_, static_cast<std::uint16_t>(width_),
                      static_cast<std::uint16_t>(height_));
    // No GraphicsExpose or NoExpose event for every frame's copy.
    gc_ = xcb_generate_id(connection_);
    const std::uint32_t gcValues[] = {0};
    xcb_create_gc(connection_, gc_, pixmap_, XCB_GC_GRAPHICS_EXPOSURES, gcValues);
    xcb_map_window(connection_, window_);
}

TestScreenPainter::~TestScreenPainter()
{
    xcb_free_gc(connection_, gc_);
    xcb_free_pixmap(connection_, pixmap_);
    xcb_destroy_window(connection_, window_);
    xcb_flush(connection_);
}

void TestScreenPainter::resize(int width, int height)
{
    if (width == width_ && height == height_) {
        return;
    }
    width_ = width;
    height_ = height;
    const std::uint32_t size[] = {static_cast<std::uint32_t>(width_), static_cast<std::uint32_t>(height_)};
    xcb_configure_window(connection_, window_, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, size);
    xcb_free_pixmap(connection_, pixmap_);
    pixmap_ = xcb_generate_id(connection_);
    xcb_create_pixmap(connection_, depth_, pixmap_, root_, static_cast<std::uint16_t>(width_),
                      static_cast<std::uint16_t>(height_));
}

void TestScreenPainter::drawScene(std::uint32_t frame)
{
    fill(pixel(244, 242, 236), {rectangle(0, 0, width_, height_)});

    std::vector<xcb_rectangle_t> strokes;
    addTextLines(frame, strokes);
    fill(pixel(50, 50, 60), strokes);

    static constexpr std::uint8_t kBoxColours[][3] = {{40, 110, 220}, {220, 60, 50}, {40, 160, 80}, {240, 150, 30}};
    const std::int64_t travel = width_ + kBoxWidth;
    const std::int64_t distance = static_cast<std::int64_t>(frame) * kBoxStep;
    const auto& colour = kBoxColours[(distance / travel) % std::size(kBoxColours)];
    fill(pixel(colour[0], colour[1], colour[2]),
         {rectangle(distance % travel - kBoxWidth, height_ * 2 / 3 - kBoxHeight / 2, kBoxWidth, kBoxHeight)});
}

void TestScreenPainter::drawStamp(const TestScreenStamp& stamp)
{
    const ScreenRect area = testScreenStampArea();
    fill(pixel(255, 255, 255), {rectangle(area.x, area.y, area.width, area.height)});
    std::vector<xcb_rectangle_t> cells;
    for (const auto& cell : testScreenStampBlackCells(stamp)) {
        cells.push_back(rectangle(cell.x, cell.y, cell.width, cell.height));
    }
    fill(pixel(0, 0, 0), cells);
}

void TestScreenPainter::present()
{
    xcb_copy_area(connection_, pixmap_, window_, gc_, 0, 0, 0, 0, static_cast<std::uint16_t>(width_),
                  static_cast<std::uint16_t>(height_));
    xcb_flush(connection_);
}

std::uint32_t TestScreenPainter::pixel(std::uint8_t red, std::uint8_t green, std::uint8_t blue) const
{
    const auto channel = [](std::uint8_t value, ChannelMask mask) {
        const std::uint32_t top = (std::uint32_t{1} << mask.bits) - 1;
        return ((value * top + 127) / 255) << mask.shift;
    };
    return channel(red, red_) | channel(green, green_) | channel(blue, blue_);
}

void TestScreenPainter::fill(std::uint32_t colour, const std::vector<xcb_rectangle_t>& rectangles)
{
    xcb_change_gc(connection_, gc_, XCB_GC_FOREGROUND, &colour);
    for (std::size_t first = 0; first < rectangles.size(); first += kRectanglesPerRequest) {
        const std::size_t count = std::min(kRectanglesPerRequest, rectangles.size() - first);
        xcb_poly_fill_rectangle(connection_, pixmap_, gc_, static_cast<std::uint32_t>(count), &rectangles[first]);
    }
}

// Text line n lies at n x kLineHeight - scroll: lines move up as the frames go and new ones come
// in at the bottom. Words of strokes fill a line from the left edge band to the right one, some
// lines end early and some are empty, as paragraphs do.
void TestScreenPainter::addTextLines(std::uint32_t frame, std::vector<xcb_rectangle_t>& strokes) const
{
    const std::int64_t scroll = static_cast<std::int64_t>(frame) * kScrollStep;
    const int right = width_ - kEdgeBand;
    for (std::int64_t line = scroll / kLineHeight; line * kLineHeight - scroll < height_; ++line) {
        const std::int64_t top = line * kLineHeight - scroll + kTallStroke + 2;
        LineRandom random(line);
        if (random.below(7) == 0) {
            continue;
        }
        const int end = random.below(5) == 0 ? right - random.below(std::max(right / 2, 1)) : right;
        int x = kEdgeBand;
        bool full = false;
        while (!full) {
            const int letters = 2 + random.below(7);
            for (int letter = 0; letter < letters; ++letter) {
                const int strokeWidth = 3 + random.below(6);
                if (x + strokeWidth > end) {
                    full = true;
                    break;
                }
                const bool tall = random.below(4) == 0;
                strokes.push_back(rectangle(x, top - (tall ? kTallStroke : 0), strokeWidth,
                                            kStrokeHeight + (tall ? kTallStroke : 0)));
                x += strokeWidth + 2;
            }
            x += 6;
        }
    }
}

} // namespace doorwarden
