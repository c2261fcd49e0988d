#include "input/ClientRemoteInput.h"

#include "platform/ClientDiagnosticLog.h"
#include "platform/fake/FakeHostInfo.h"
#include "platform/fake/FakeInputInjector.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/ManualScheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

using namespace doorwarden;
using namespace std::chrono_literals;

namespace {

using Event = FakeInputInjector::Event;
using Events = std::vector<Event>;

ClientInputPayload pointer(const std::string& type, double x, double y, std::optional<std::string> button = {})
{
    ClientInputPayload input;
    input.eventType = type;
    input.x = x;
    input.y = y;
    input.button = std::move(button);
    return input;
}

// The event as the remote input service reads it from a payload of a known kind.
InputEvent event(const ClientInputPayload& payload)
{
    return InputEvent::from(payload).value();
}

ClientInputPayload wheel(std::int64_t delta)
{
    ClientInputPayload input;
    input.eventType = "mouse_wheel";
    input.delta = delta;
    return input;
}

ClientInputPayload key(const std::string& type, std::int64_t code, bool shift = false, bool control = false,
                       bool alt = false)
{
    ClientInputPayload input;
    input.eventType = type;
    input.keyCode = code;
    input.shift = shift;
    input.control = control;
    input.alt = alt;
    return input;
}

struct Harness {
    Harness()
    {
        auto fake = std::make_unique<FakeInputInjector>();
        injector = fake->sharedState();
        // A monitor to the right of another one: points are offset by its place.
        injector->monitor = {1920, 100, 1000, 500};
        input = std::make_unique<ClientRemoteInput>(ClientRemoteInput::Dependencies{clock, scheduler, log, std::move(fake)});
    }

    Events send(const std::vector<ClientInputPayload>& inputs)
    {
        const std::size_t before = injector->events.size();
        for (const auto& one : inputs) {
            // As the remote input service reads them; a kind it does not know never gets here.
            if (const auto event = InputEvent::from(one)) {
                input->handle(*event);
            }
        }
        scheduler.runUntilIdle();
        return Events(injector->events.begin() + static_cast<std::ptrdiff_t>(before), injector->events.end());
    }

    bool logged(const std::string& text) const
    {
        return log.diagnosticSnapshot().find("|INPUT|" + text) != std::string::npos;
    }

    ManualClock clock;
    ManualScheduler scheduler{clock};
    FakeHostInfo host;
    mutable ClientDiagnosticLog log{clock, host};
    std::shared_ptr<FakeInputInjector::State> injector;
    std::unique_ptr<ClientRemoteInput> input;
};

} // namespace

TEST(ClientRemoteInputTest, ViewerEventsBecomeTheseEvents)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* name;
        std::vector<ClientInputPayload> inputs;
        Events expected;
    };
    const Case cases[] = {
        {"a move, onto the monitor's pixels", {pointer("mouse_move", 0.5, 0.25)}, {Event::move({2420, 225})}},
        {"outside 0..1 is clamped, 1 to the last pixel",
         {pointer("mouse_move", 1.7, -0.2), pointer("mouse_move", 1.0, 1.0)},
         {Event::move({2919, 100}), Event::move({2919, 599})}},
        {"no number moves nothing; the button still goes down and up",
         {pointer("mouse_move", nan, 0.5), pointer("mouse_down", 0.5, std::numeric_limits<double>::infinity()),
          pointer("mouse_up", nan, nan)},
         {Event::press(PointerButton::left), Event::release(PointerButton::left)}},
        {"a click where the viewer clicked",
         {pointer("mouse_down", 0, 0), pointer("mouse_up", 0, 0)},
         {Event::move({1920, 100}), Event::press(PointerButton::left), Event::move({1920, 100}),
          Event::release(PointerButton::left)}},
        {"button names in any case; unknown ones are left",
         {pointer("mouse_down", 0, 0, "RIGHT"), pointer("mouse_down", 0, 0, "Middle"),
          pointer("mouse_down", 0, 0, "thumb")},
         {Event::move({1920, 100}), Event::press(PointerButton::right), Event::move({1920, 100}),
          Event::press(PointerButton::middle), Event::move({1920, 100}), Event::press(PointerButton::left)}},
        {"an up without a down is still sent",
         {pointer("mouse_up", 0, 0, "right")},
         {Event::move({1920, 100}), Event::release(PointerButton::right)}},
        {"a drag: the move between down and up carries the button",
         {pointer("mouse_down", 0, 0), pointer("mouse_move", 0.1, 0), pointer("mouse_up", 0.1, 0)},
         {Event::move({1920, 100}), Event::press(PointerButton::left), Event::move({2020, 100}),
          Event::move({2020, 100}), Event::release(PointerButton::left)}},
        {"wheel: 120 a line up, -240 two down, 60 none, and at most 100 lines",
         {wheel(120), wheel(-240), wheel(60), wheel(std::numeric_limits<std::int32_t>::max()),
          wheel(std::numeric_limits<std::int64_t>::min())},
         {Event::wheel(WheelAxis::vertical, -1), Event::wheel(WheelAxis::vertical, 2),
          Event::wheel(WheelAxis::vertical, -100), Event::wheel(WheelAxis::vertical, 100)}},
        {"a key by its position",
         {key("key_down", 'A'), key("key_up", 'A'), key("key_down", '1'), key("key_up", '1')},
         {Event::pressKey("AC01"), Event::releaseKey("AC01"), Event::pressKey("AE01"), Event::releaseKey("AE01")}},
        {"flags are held around the keystroke and let go after it",
         {key("key_down", 'A', true, true), key("key_up", 'A', true, true)},
         {Event::pressKey("LFSH"), Event::pressKey("LCTL"), Event::pressKey("AC01"), Event::releaseKey("AC01"),
          Event::releaseKey("LCTL"), Event::releaseKey("LFSH")}},
        {"a flag the next key does not name is let go before it",
         {key("key_down", 'A', true), key("key_down", 'S', false, false, true), key("key_up", 'S', false, false, true),
          key("key_up", 'A')},
         {Event::pressKey("LFSH"), Event::pressKey("AC01"), Event::releaseKey("LFSH"), Event::pressKey("LALT"),
          Event::pressKey("AC02"), Event::releaseKey("AC02"), Event::releaseKey("LALT"), Event::releaseKey("AC01")}},
        {"modifier keys themselves and unmapped codes are dropped",
         {key("key_down", 16, true), key("key_down", 45), key("key_up", 999999)},
         {}},
        {"punctuation, function keys and Hangul",
         {key("key_down", 186), key("key_down", 123), key("key_down", 21)},
         {Event::pressKey("AC10"), Event::pressKey("FK12"), Event::pressKey("HNGL")}},
        {"unknown event types are dropped", {pointer("mouse_teleport", 0.5, 0.5), pointer("Mouse_Move", 0, 0)}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        EXPECT_EQ(h.send(c.inputs), c.expected);
    }
}

TEST(ClientRemoteInputTest, DroppedInputIsLoggedOncePerKind)
{
    Harness h;
    h.send({key("key_down", 16), key("key_down", 17)});
    EXPECT_TRUE(h.logged("dropped key_code=16"));
    EXPECT_FALSE(h.logged("dropped key_code=17"));
}

TEST(ClientRemoteInputTest, ThePointerIsTheViewersForHalfASecondAfterItsPointerEvents)
{
    Harness h;
    EXPECT_EQ(h.input->pointerController(), "client");
    h.send({pointer("mouse_move", 0.5, 0.5)});
    EXPECT_EQ(h.input->pointerController(), "viewer");
    h.clock.advance(500ms);
    EXPECT_EQ(h.input->pointerController(), "viewer");
    h.clock.advance(1ms);
    EXPECT_EQ(h.input->pointerController(), "client");

    // Keys and the wheel do not move the pointer.
    h.send({key("key_down", 'A'), key("key_up", 'A'), wheel(120)});
    EXPECT_EQ(h.input->pointerController(), "client");
    h.send({pointer("mouse_up", 0.5, 0.5)});
    EXPECT_EQ(h.input->pointerController(), "viewer");

    // Disabled, nothing is sent and the pointer stays the customer's.
    h.clock.advance(1s);
    h.input->setEnabled(false);
    EXPECT_EQ(h.send({pointer("mouse_move", 0.1, 0.1), pointer("mouse_down", 0.1, 0.1), key("key_down", 'A')}),
              Events{});
    EXPECT_EQ(h.input->pointerController(), "client");
    h.input->setEnabled(true);
    EXPECT_EQ(h.send({pointer("mouse_move", 0, 0)}), Events{Event::move({1920, 100})});
}

TEST(ClientRemoteInputTest, NothingStaysPressedAfterDisablingResettingOrDestroying)
{
    enum class End { disable, reset, destroy };
    for (const End end : {End::disable, End::reset, End::destroy}) {
        SCOPED_TRACE(static_cast<int>(end));
        Harness h;
        // The viewer vanishes mid-drag and mid-keystroke.
        h.send({pointer("mouse_down", 0.2, 0.2), pointer("mouse_move", 0.3, 0.3), key("key_down", 'A', true)});
        ASSERT_EQ(h.injector->held.size(), 3u);
        switch (end) {
        case End::disable:
            h.input->setEnabled(false);
            break;
        case End::reset:
            h.input->reset();
            break;
        case End::destroy:
            h.input.reset();
            break;
        }
        h.scheduler.runUntilIdle();
        EXPECT_EQ(h.injector->held, Events{});
        EXPECT_EQ(h.injector->alive, end != End::destroy);
        if (end == End::destroy) {
            continue;
        }
        h.input->setEnabled(true);
        // After it, a move is a plain move and a key comes without the old flags.
        EXPECT_EQ(h.send({pointer("mouse_move", 0, 0), key("key_down", 'A'), key("key_up", 'A')}),
                  (Events{Event::move({1920, 100}), Event::pressKey("AC01"), Event::releaseKey("AC01")}));
    }
}

TEST(ClientRemoteInputTest, AFloodCoalescesMovesButKeepsEveryButtonAndKeyInOrder)
{
    Harness h;
    // 10,000 events arrive before the input runner gets to any of them.
    for (int i = 0; i < 10'000; ++i) {
        if (i == 5'000) {
            h.input->handle(event(pointer("mouse_down", 0, 0)));
            h.input->handle(event(key("key_down", 'Q')));
            h.input->handle(event(key("key_up", 'Q')));
            h.input->handle(event(pointer("mouse_up", 0, 0)));
        }
        h.input->handle(event(i % 100 == 0 ? wheel(120) : pointer("mouse_move", i / 10'000.0, 0)));
    }
    h.scheduler.runUntilIdle();
    const auto& events = h.injector->events;
    EXPECT_LE(events.size(), ClientRemoteInput::kQueueLimit + 10);

    Events kept;
    int wheelLines = 0;
    for (const auto& event : events) {
        if (event.kind == Event::Kind::wheel) {
            wheelLines -= event.steps;
        } else if (event.kind != Event::Kind::move) {
            kept.push_back(event);
        }
    }
    EXPECT_EQ(kept, (Events{Event::press(PointerButton::left), Event::pressKey("AD01"), Event::releaseKey("AD01"),
                            Event::release(PointerButton::left)}));
    EXPECT_EQ(wheelLines, 100) << "the wheel turns add up";
    const auto lastMove = std::find_if(events.rbegin(), events.rend(),
                                       [](const Event& event) { return event.kind == Event::Kind::move; });
    ASSERT_NE(lastMove, events.rend());
    EXPECT_EQ(*lastMove, Event::move({1920 + 999, 100})) << "the newest position wins";
}

TEST(ClientRemoteInputTest, AFloodOfKeysPastTheHardLimitIsDroppedAndLetsGoOfEverything)
{
    Harness h;
    h.input->handle(event(key("key_down", 'A', true)));
    for (std::size_t i = 0; i < 2 * ClientRemoteInput::kHardLimit; ++i) {
        h.input->handle(event(key(i % 2 == 0 ? "key_down" : "key_up", 'S')));
    }
    h.scheduler.runUntilIdle();
    const auto& events = h.injector->events;
    EXPECT_LE(events.size(), ClientRemoteInput::kHardLimit + 4);
    EXPECT_EQ(h.injector->held, Events{}) << "the flood's presses and the first key are let go";
    EXPECT_EQ(h.injector->releaseAllCalls, 1);
    // Input after the flood is taken again.
    EXPECT_EQ(h.send({key("key_down", 'A'), key("key_up", 'A')}),
              (Events{Event::pressKey("AC01"), Event::releaseKey("AC01")}));
}
