#include "platform/linux/XcbInputInjector.h"

#include "platform/XcbTestClient.h"
#include "platform/linux/XcbConnection.h"
#include "support/XvfbServer.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <xcb/xinput.h>
#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <memory>
#include <vector>

using namespace doorwarden;

namespace {

// What an application sees of the injected input: a window over the whole screen, with the
// keyboard focus, that records the core events it gets and the XInput2 source of its button
// presses.
class InputRecorder : public XcbTestClient {
public:
    struct Event {
        std::uint8_t type = 0; // XCB_KEY_PRESS ... XCB_MOTION_NOTIFY
        std::uint8_t detail = 0;
        int x = 0;
        int y = 0;
        bool operator==(const Event&) const = default;
    };

    // With `xi2Sources`, button presses come as XInput2 events (which tell their source device)
    // instead of core ones: a client gets one or the other.
    explicit InputRecorder(const QString& display, bool xi2Sources = false)
        : XcbTestClient(display)
    {
        xcb_connection_t* c = get();
        window_ = xcb_generate_id(c);
        const std::uint32_t values[] = {1, XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE |
                                               XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE |
                                               XCB_EVENT_MASK_POINTER_MOTION};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window_, root(), 0, 0, 1280, 800, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
        xcb_map_window(c, window_);
        xcb_set_input_focus(c, XCB_INPUT_FOCUS_POINTER_ROOT, window_, XCB_CURRENT_TIME);
        if (xi2Sources) {
            std::free(xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr));
            struct {
                xcb_input_event_mask_t head;
                std::uint32_t bits;
            } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, XCB_INPUT_XI_EVENT_MASK_BUTTON_PRESS};
            xcb_input_xi_select_events(c, window_, 1, &mask.head);
        }
        settle();
        take();
    }

    // The core events since the last call, once the server has handled what `injector` sent
    // (monitor() is a round trip on its connection) and sent this client what that caused.
    std::vector<Event> take(XcbInputInjector* injector = nullptr)
    {
        if (injector) {
            injector->monitor();
        }
        settle();
        std::vector<Event> events;
        while (const XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(get())}) {
            const std::uint8_t type = event->response_type & 0x7f;
            if (type == XCB_GE_GENERIC) {
                const auto* press = reinterpret_cast<const xcb_input_button_press_event_t*>(event.get());
                if (press->event_type == XCB_INPUT_BUTTON_PRESS) {
                    sources.push_back(press->sourceid);
                }
                continue;
            }
            if (type < XCB_KEY_PRESS || type > XCB_MOTION_NOTIFY) {
                continue;
            }
            // Key, button and motion events share this layout.
            const auto* input = reinterpret_cast<const xcb_button_press_event_t*>(event.get());
            events.push_back({type, type == XCB_MOTION_NOTIFY ? std::uint8_t{0} : input->detail, input->root_x,
                              input->root_y});
        }
        return events;
    }

    // The keysym the first level of `keycode` types in the keyboard's keymap now.
    xkb_keysym_t keysymOf(std::uint8_t keycode)
    {
        xkb_x11_setup_xkb_extension(get(), 1, 0, XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr,
                                    nullptr);
        xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        xkb_keymap* keymap = xkb_x11_keymap_new_from_device(context, get(), xkb_x11_get_core_keyboard_device_id(get()),
                                                            XKB_KEYMAP_COMPILE_NO_FLAGS);
        const xkb_keysym_t* syms = nullptr;
        const int count = keymap ? xkb_keymap_key_get_syms_by_level(keymap, keycode, 0, 0, &syms) : 0;
        const xkb_keysym_t keysym = count > 0 ? syms[0] : XKB_KEY_NoSymbol;
        xkb_keymap_unref(keymap);
        xkb_context_unref(context);
        return keysym;
    }

    // Whether any button or key is down on the server.
    bool anythingPressed()
    {
        const XcbReply<xcb_query_pointer_reply_t> pointer(
            xcb_query_pointer_reply(get(), xcb_query_pointer(get(), root()), nullptr));
        const XcbReply<xcb_query_keymap_reply_t> keys(xcb_query_keymap_reply(get(), xcb_query_keymap(get()), nullptr));
        const bool buttons = pointer && (pointer->mask & (XCB_BUTTON_MASK_1 | XCB_BUTTON_MASK_2 | XCB_BUTTON_MASK_3)) != 0;
        return buttons || !keys || std::any_of(std::begin(keys->keys), std::end(keys->keys), [](auto b) { return b != 0; });
    }

    std::vector<std::uint16_t> sources; // XInput2 source devices of button presses

private:
    xcb_window_t window_ = XCB_NONE;
};

using Event = InputRecorder::Event;

bool setLayout(const QString& display, const QString& layout)
{
    return QProcess::execute(QStringLiteral("setxkbmap"), {QStringLiteral("-display"), display, layout}) == 0;
}

class XcbInputInjectorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(xvfb.display().isEmpty()) << "Xvfb did not start"; }

    XvfbServer xvfb;
};

} // namespace

TEST_F(XcbInputInjectorTest, PointerButtonsAndTheWheelReachApplications)
{
    InputRecorder recorder(xvfb.display());
    XcbInputInjector injector(xvfb.display().toStdString());
    EXPECT_EQ(injector.monitor(), (ScreenRect{0, 0, 1280, 800}));

    injector.movePointer({100, 200});
    injector.pressButton(PointerButton::left);
    injector.movePointer({300, 250});
    injector.releaseButton(PointerButton::left);
    injector.pressButton(PointerButton::right);
    injector.releaseButton(PointerButton::right);
    injector.pressButton(PointerButton::middle);
    injector.releaseButton(PointerButton::middle);
    EXPECT_EQ(recorder.take(&injector),
              (std::vector<Event>{{XCB_MOTION_NOTIFY, 0, 100, 200},
                                  {XCB_BUTTON_PRESS, 1, 100, 200},
                                  {XCB_MOTION_NOTIFY, 0, 300, 250},
                                  {XCB_BUTTON_RELEASE, 1, 300, 250},
                                  {XCB_BUTTON_PRESS, 3, 300, 250},
                                  {XCB_BUTTON_RELEASE, 3, 300, 250},
                                  {XCB_BUTTON_PRESS, 2, 300, 250},
                                  {XCB_BUTTON_RELEASE, 2, 300, 250}}));

    // Down two notches, up one, right one: buttons 5, 4 and 7, each pressed and released.
    injector.scrollWheel(WheelAxis::vertical, 2);
    injector.scrollWheel(WheelAxis::vertical, -1);
    injector.scrollWheel(WheelAxis::horizontal, 1);
    injector.scrollWheel(WheelAxis::vertical, 0);
    std::vector<std::uint8_t> wheel;
    for (const Event& event : recorder.take(&injector)) {
        wheel.push_back(static_cast<std::uint8_t>(event.type == XCB_BUTTON_PRESS ? event.detail : 10 + event.detail));
    }
    EXPECT_EQ(wheel, (std::vector<std::uint8_t>{5, 15, 5, 15, 4, 14, 7, 17}));
}

TEST_F(XcbInputInjectorTest, ApplicationsCanTellInjectedInputByItsSourceDevice)
{
    InputRecorder recorder(xvfb.display(), true);
    XcbInputInjector injector(xvfb.display().toStdString());
    injector.pressButton(PointerButton::left);
    injector.releaseButton(PointerButton::left);
    recorder.take(&injector);
    XcbConnection connection(xvfb.display().toStdString());
    ASSERT_EQ(recorder.sources.size(), 1u);
    EXPECT_TRUE(isXtestDevice(connection, recorder.sources.front()));
    EXPECT_FALSE(isXtestDevice(connection, 2)) << "the master pointer";
    EXPECT_FALSE(isXtestDevice(connection, 999)) << "no such device";
}

TEST_F(XcbInputInjectorTest, ALeftHandedPointerStillGetsALeftClick)
{
    InputRecorder recorder(xvfb.display());
    // The mapping must name every button the pointer has: 1 and 3 swap, the rest stay.
    const XcbReply<xcb_get_pointer_mapping_reply_t> current(
        xcb_get_pointer_mapping_reply(recorder.get(), xcb_get_pointer_mapping(recorder.get()), nullptr));
    ASSERT_TRUE(current);
    const std::uint8_t* map = xcb_get_pointer_mapping_map(current.get());
    std::vector<std::uint8_t> leftHanded(map, map + xcb_get_pointer_mapping_map_length(current.get()));
    ASSERT_GE(leftHanded.size(), 3u);
    std::swap(leftHanded[0], leftHanded[2]);
    const XcbReply<xcb_set_pointer_mapping_reply_t> set(xcb_set_pointer_mapping_reply(
        recorder.get(),
        xcb_set_pointer_mapping(recorder.get(), static_cast<std::uint8_t>(leftHanded.size()), leftHanded.data()),
        nullptr));
    ASSERT_TRUE(set);
    ASSERT_EQ(set->status, XCB_MAPPING_STATUS_SUCCESS);
    XcbInputInjector injector(xvfb.display().toStdString());
    injector.pressButton(PointerButton::left);
    injector.releaseButton(PointerButton::left);
    injector.pressButton(PointerButton::right);
    injector.releaseButton(PointerButton::right);
    std::vector<std::uint8_t> buttons;
    for (const Event& event : recorder.take(&injector)) {
        buttons.push_back(event.detail);
    }
    EXPECT_EQ(buttons, (std::vector<std::uint8_t>{1, 1, 3, 3}));
}

TEST_F(XcbInputInjectorTest, KeysGoByPositionInTheLayoutOfTheMoment)
{
    InputRecorder recorder(xvfb.display());
    XcbInputInjector injector(xvfb.display().toStdString());
    struct Case {
        const char* layout;
        const char* keyName;
        xkb_keysym_t typed;
    };
    const Case cases[] = {
        {"us", "AC01", XKB_KEY_a},      {"us", "AE01", XKB_KEY_1}, {"de", "AD06", XKB_KEY_z},
        {"fr", "AC01", XKB_KEY_q},      {"kr", "HNGL", XKB_KEY_Hangul}, {"kr", "AC01", XKB_KEY_a},
        {"us", "NOPE", XKB_KEY_NoSymbol},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.layout) + " " + c.keyName);
        ASSERT_TRUE(setLayout(xvfb.display(), QString::fromLatin1(c.layout)));
        recorder.take();
        injector.pressKey(c.keyName);
        injector.releaseKey(c.keyName);
        const auto events = recorder.take(&injector);
        if (c.typed == XKB_KEY_NoSymbol) {
            EXPECT_TRUE(events.empty()) << "a name the keyboard does not have is dropped";
            continue;
        }
        ASSERT_EQ(events.size(), 2u);
        EXPECT_EQ(events[0].type, XCB_KEY_PRESS);
        EXPECT_EQ(events[1].type, XCB_KEY_RELEASE);
        EXPECT_EQ(events[0].detail, events[1].detail);
        EXPECT_EQ(recorder.keysymOf(events[0].detail), c.typed);
    }
}

TEST_F(XcbInputInjectorTest, NothingStaysPressedWhenItGoes)
{
    InputRecorder recorder(xvfb.display());
    {
        XcbInputInjector injector(xvfb.display().toStdString());
        injector.pressButton(PointerButton::left);
        injector.pressKey("LFSH");
        injector.pressKey("AC01");
        recorder.take(&injector);
        ASSERT_TRUE(recorder.anythingPressed());
        injector.releaseAll();
        EXPECT_FALSE(recorder.anythingPressed());

        injector.pressButton(PointerButton::right);
        injector.pressKey("AD01");
        recorder.take(&injector);
        ASSERT_TRUE(recorder.anythingPressed());
    }
    EXPECT_FALSE(recorder.anythingPressed()) << "destroying the injector lets go";
}

TEST(XcbInputInjectorWithoutDisplayTest, DropsEverything)
{
    XcbInputInjector injector("127.0.0.1:99.0");
    EXPECT_TRUE(injector.monitor().isEmpty());
    injector.movePointer({1, 1});
    injector.pressButton(PointerButton::left);
    injector.pressKey("AC01");
    injector.releaseAll();
}
