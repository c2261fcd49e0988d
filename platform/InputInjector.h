#pragma once

#include "platform/PointerButton.h"
#include "platform/ScreenPoint.h"
#include "platform/ScreenRect.h"
#include "platform/WheelAxis.h"

#include <string_view>

namespace doorwarden {

// Acts as the user's pointer and keyboard: each call sends one event into the system's input
// stream, as the local devices would. Events are platform-level; translating the viewer's
// events (normalised positions, key codes, modifiers) into these is the caller's work.
//
// Created on the main thread by the session environment, then used and destroyed only on the
// input runner (ThreadContext::input()). Calls return once the event is sent; an event the
// system refuses is dropped without a report. Destroying the injector releases what it holds
// pressed (see releaseAll).
class InputInjector {
public:
    virtual ~InputInjector() = default;

    // The monitor the viewer sees (the one the screen capture picks) as it is now, asked for
    // with every event: an implementation keeps it between the system's layout changes rather
    // than asking the system each time. Empty when there is none.
    virtual ScreenRect monitor() = 0;

    // Moves the pointer to `position` in root-window pixels; a point off every monitor is
    // brought to the nearest edge by the system.
    virtual void movePointer(ScreenPoint position) = 0;

    // At the pointer's current position.
    virtual void pressButton(PointerButton button) = 0;
    virtual void releaseButton(PointerButton button) = 0;

    // Turns a wheel by whole steps (notches): positive `steps` scroll down (vertical) or right
    // (horizontal), negative up or left; zero sends nothing.
    virtual void scrollWheel(WheelAxis axis, int steps) = 0;

    // Keys are named by their physical position, as XKB names them ("AC01" is the key right of
    // Caps Lock, "LFSH" the left Shift), so that the character typed follows the customer's
    // keyboard layout. A name the keyboard does not have is dropped.
    virtual void pressKey(std::string_view keyName) = 0;
    virtual void releaseKey(std::string_view keyName) = 0;

    // Releases every button and key this injector pressed and has not released, so that
    // nothing stays held on the customer's machine when control ends.
    virtual void releaseAll() = 0;
};

} // namespace doorwarden
