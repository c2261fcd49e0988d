#pragma once

#include <cstdint>
#include <vector>

namespace doorwarden {

// Where the window system's input events come from: the devices behind them, for the windows
// that must answer to the customer's own hands only (see ui/CustomerInputGuard). Main thread;
// it learns of events as the window system hands them to the application, before the widgets
// get them.
class InputSourceTracker {
public:
    enum class Kind { pointer, keyboard };

    virtual ~InputSourceTracker() = default;

    // The window system's ids of the devices (XInput2 slave devices on X11) that may have made
    // the `kind` event stamped `timestamp` (the window system's time, as QInputEvent::timestamp()
    // gives it): every device seen at that time, else the last one before it. Empty when that
    // is not known, as for events that the window system did not make.
    virtual std::vector<std::int64_t> sourcesOf(Kind kind, std::uint64_t timestamp) const = 0;
};

} // namespace doorwarden
