#pragma once

#include "platform/ClientDiagnosticLog.h"
#include "platform/InputInjector.h"
#include "input/InputEvent.h"

#include <memory>
#include <optional>
#include <set>
#include <string>

namespace doorwarden {

// Turns the viewer's input events into events of the customer's input stream. Lives and works
// on the input runner only; ClientRemoteInput hands it the events in order.
//
// Every button and key it pressed is let go when it is disabled, reset or destroyed: a press
// sent into the X server stays down, and the server's auto-repeat would repeat a held key for
// ever, after a viewer vanished in the middle of a click or a keystroke.
//
// Keys go by their position (see viewerKeys). The flags of a key event are made true by
// pressing or releasing Shift, Control and Alt around it, so that exactly the named ones are
// down; a modifier the customer holds on their own keyboard, and Caps Lock, stay as they are.
class ClientRemoteInputWorker {
public:
    // At most this many wheel lines an event: a delta of 2^31 - 1 would otherwise be 17.9
    // million clicks.
    static constexpr std::int64_t kMaximumWheelLines = 100;

    ClientRemoteInputWorker(ClientDiagnosticLog& log, std::unique_ptr<InputInjector> injector);
    ~ClientRemoteInputWorker();

    // Whether the event was one the viewer moved the pointer with (move, button).
    bool handle(const InputEvent& input);
    void setEnabled(bool enabled);
    void reset();

private:
    std::optional<ScreenPoint> pointFor(double x, double y);
    void moveTo(const InputEvent& input);
    void key(const InputEvent& input, bool down);
    void holdModifier(std::string_view name, bool wanted);
    void releaseEverything();
    void dropOnce(const std::string& kind, const std::string& value);

    ClientDiagnosticLog& log_;
    std::unique_ptr<InputInjector> injector_;
    bool enabled_ = true;
    std::set<std::string, std::less<>> pressedKeys_;      // mapped keys the viewer holds down
    std::set<std::string, std::less<>> pressedModifiers_; // held for the flags of those keys
    std::set<std::string> reportedDrops_; // kinds of dropped input already logged
};

} // namespace doorwarden
