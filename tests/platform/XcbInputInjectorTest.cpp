#include "platform/linux/XcbInputInjector.h"

#include "platform/InputRecorder.h"
#include "platform/RandrClient.h"
#include "platform/linux/XcbConnection.h"
#include "support/XvfbServer.h"

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <memory>
#include <vector>

using namespace doorwarden;

namespace {

using Event = InputRecorder::Event;

// What the recorder got once the server handled all `injector` sent.
std::vector<Event> takeAfter(InputRecorder& recorder, XcbInputInjector& injector)
{
    injector.sync();
    return recorder.take();
}

// The pointer mapping of the display with buttons 1 and 3 swapped (left-handed) or not.
bool setLeftHanded(XcbTestClient& client, bool leftHanded)
{
    xcb_connection_t* c = client.get();
    const XcbReply<xcb_get_pointer_mapping_reply_t> current(
        xcb_get_pointer_mapping_reply(c, xcb_get_pointer_mapping(c), nullptr));
    if (!current || xcb_get_pointer_mapping_map_length(current.get()) < 3) {
        return false;
    }
    // The mapping must name every button the pointer has: 1 and 3 as asked, the rest stay.
    const std::uint8_t* map = xcb_get_pointer_mapping_map(current.get());
    std::vector<std::uint8_t> mapping(map, map + xcb_get_pointer_mapping_map_length(current.get()));
    mapping[0] = leftHanded ? 3 : 1;
    mapping[2] = leftHanded ? 1 : 3;
    const XcbReply<xcb_set_pointer_mapping_reply_t> set(xcb_set_pointer_mapping_reply(
        c, xcb_set_pointer_mapping(c, static_cast<std::uint8_t>(mapping.size()), mapping.data()), nullptr));
    // The injector's MappingNotify is written once the server has handled a later request.
    client.settle();
    return set && set->status == XCB_MAPPING_STATUS_SUCCESS;
}

// The buttons the recorder saw once the injector clicked each of `buttons`.
std::vector<std::uint8_t> clicked(InputRecorder& recorder, XcbInputInjector& injector,
                                  std::initializer_list<PointerButton> buttons)
{
    for (const PointerButton button : buttons) {
        injector.pressButton(button);
        injector.releaseButton(button);
    }
    std::vector<std::uint8_t> seen;
    for (const Event& event : takeAfter(recorder, injector)) {
        seen.push_back(event.detail);
    }
    return seen;
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
    EXPECT_EQ(takeAfter(recorder, injector),
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
    for (const Event& event : takeAfter(recorder, injector)) {
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
    takeAfter(recorder, injector);
    XcbConnection connection(xvfb.display().toStdString());
    ASSERT_EQ(recorder.sources.size(), 1u);
    EXPECT_TRUE(isXtestDevice(connection, recorder.sources.front()));
    EXPECT_FALSE(isXtestDevice(connection, 2)) << "the master pointer";
    EXPECT_FALSE(isXtestDevice(connection, 999)) << "no such device";
}

TEST_F(XcbInputInjectorTest, ALeftHandedPointerStillGetsALeftClick)
{
    InputRecorder recorder(xvfb.display());
    ASSERT_TRUE(setLeftHanded(recorder, true));
    XcbInputInjector injector(xvfb.display().toStdString());
    EXPECT_EQ(clicked(recorder, injector, {PointerButton::left, PointerButton::right}),
              (std::vector<std::uint8_t>{1, 1, 3, 3}));
}

// The mapping is kept between clicks and read again when the server announces a new one: the
// customer switching hands mid-session still gets the viewer's left click as a left click.
TEST_F(XcbInputInjectorTest, APointerMappingChangedWhileInjectingIsFollowed)
{
    InputRecorder recorder(xvfb.display());
    XcbInputInjector injector(xvfb.display().toStdString());
    struct Step {
        const char* name;
        bool leftHanded;
    };
    for (const Step step : {Step{"right-handed", false}, Step{"switched to left-handed", true},
                            Step{"left-handed, the mapping kept", true}, Step{"back to right-handed", false}}) {
        SCOPED_TRACE(step.name);
        ASSERT_TRUE(setLeftHanded(recorder, step.leftHanded));
        EXPECT_EQ(clicked(recorder, injector, {PointerButton::left, PointerButton::right, PointerButton::left}),
                  (std::vector<std::uint8_t>{1, 1, 3, 3, 1, 1}));
    }
}

// The monitor is kept between events and read again after RandR or the root window announce a
// change, so a pointer placed by the viewer lands on the monitor the capture shows now.
TEST_F(XcbInputInjectorTest, TheMonitorFollowsTheDisplayLayout)
{
    RandrClient x(xvfb.display());
    XcbInputInjector injector(xvfb.display().toStdString());
    struct Change {
        const char* name;
        std::function<void()> apply;
        ScreenRect monitor;
    };
    const Change changes[] = {
        {"nothing changed", [] {}, {0, 0, 1280, 800}},
        {"a primary monitor set by a client", [&] { x.setMonitor("MAIN", {100, 50, 640, 480}, true); },
         {100, 50, 640, 480}},
        {"a second one beside it", [&] { x.setMonitor("SIDE", {800, 0, 480, 400}, false); }, {100, 50, 640, 480}},
        {"the primary one removed: the first one", [&] { x.deleteMonitor("MAIN"); }, {800, 0, 480, 400}},
        {"the last one removed", [&] { x.deleteMonitor("SIDE"); }, {0, 0, 1280, 800}},
        {"the output switched off, the screen made smaller",
         [&] {
             x.switchOutputOff();
             x.setScreenSize(1024, 600);
         },
         {0, 0, 1024, 600}},
    };
    for (const Change& change : changes) {
        SCOPED_TRACE(change.name);
        change.apply();
        x.settle();
        EXPECT_EQ(injector.monitor(), change.monitor);
        EXPECT_EQ(injector.monitor(), change.monitor) << "asked again without a change";
    }
}

TEST_F(XcbInputInjectorTest, KeysGoByPositionInTheLayoutOfTheMoment)
{
    InputRecorder recorder(xvfb.display());
    XcbInputInjector injector(xvfb.display().toStdString());
    struct Case {
        const char* layout;
        const char* keyName;
        xkb_keysym_t typed;
        const char* keycodes = "evdev";
    };
    const Case cases[] = {
        {"us", "AC01", XKB_KEY_a},
        {"us", "AE01", XKB_KEY_1},
        {"de", "AD06", XKB_KEY_z},
        {"fr", "AC01", XKB_KEY_q},
        {"kr", "HNGL", XKB_KEY_Hangul},
        {"kr", "AC01", XKB_KEY_a},
        {"us", "NOPE", XKB_KEY_NoSymbol},
        // Other keycodes (Up is 98 here, 111 with evdev's): only a keymap read again finds it.
        {"us", "UP", XKB_KEY_Up, "xfree86"},
        {"us", "UP", XKB_KEY_Up},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.layout) + " " + c.keyName + " " + c.keycodes);
        ASSERT_TRUE(setKeyboardLayout(xvfb.display(), QString::fromLatin1(c.layout), QString::fromLatin1(c.keycodes)));
        recorder.take();
        injector.pressKey(c.keyName);
        injector.releaseKey(c.keyName);
        const auto events = takeAfter(recorder, injector);
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
        takeAfter(recorder, injector);
        ASSERT_TRUE(recorder.anythingPressed());
        injector.releaseAll();
        EXPECT_FALSE(recorder.anythingPressed());

        injector.pressButton(PointerButton::right);
        injector.pressKey("AD01");
        takeAfter(recorder, injector);
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
