#pragma once

#include "platform/InputInjector.h"

namespace doorwarden {

// The input injector of a build without an XTEST back-end: every event is dropped, so a
// session still runs, as view-only.
class UnavailableInputInjector final : public InputInjector {
public:
    void movePointer(ScreenPoint) override {}
    void pressButton(PointerButton) override {}
    void releaseButton(PointerButton) override {}
    void scrollWheel(WheelAxis, int) override {}
    void pressKey(std::string_view) override {}
    void releaseKey(std::string_view) override {}
    void releaseAll() override {}
};

} // namespace doorwarden
