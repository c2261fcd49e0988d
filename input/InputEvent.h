#pragma once

#include "platform/PointerButton.h"
#include "relay/payload/ClientInputPayload.h"

#include <cstdint>
#include <optional>

namespace doorwarden {

// A viewer's mouse or keyboard event, read once from its message: the kind and the button are
// settled here, so nothing further down compares the texts of the wire.
struct InputEvent {
    enum class Kind { move, buttonDown, buttonUp, wheel, keyDown, keyUp };

    Kind kind = Kind::move;
    double x = 0.0; // normalised to the captured monitor
    double y = 0.0;
    PointerButton button = PointerButton::left;
    std::int64_t delta = 0;   // wheel: 120 a notch, positive away from the user
    std::int64_t keyCode = 0; // the viewer's key code of the key's place
    bool alt = false;
    bool control = false;
    bool shift = false;

    // The event `payload` describes; absent for a kind the client does not know. A button named
    // in any case ("RIGHT"), and left for an unknown or missing name.
    static std::optional<InputEvent> from(const ClientInputPayload& payload);

    bool isPointer() const { return kind == Kind::move || kind == Kind::wheel; }

    bool operator==(const InputEvent&) const = default;
};

} // namespace doorwarden
