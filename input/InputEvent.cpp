#include "input/InputEvent.h"

#include <QString>

#include <array>
#include <string_view>
#include <utility>

namespace doorwarden {

namespace {

constexpr std::array<std::pair<std::string_view, InputEvent::Kind>, 6> kKinds = {{
    {"mouse_move", InputEvent::Kind::move},
    {"mouse_down", InputEvent::Kind::buttonDown},
    {"mouse_up", InputEvent::Kind::buttonUp},
    {"mouse_wheel", InputEvent::Kind::wheel},
    {"key_down", InputEvent::Kind::keyDown},
    {"key_up", InputEvent::Kind::keyUp},
}};

PointerButton buttonOf(const std::optional<std::string>& name)
{
    if (!name) {
        return PointerButton::left;
    }
    const QString lower = QString::fromStdString(*name).toLower();
    if (lower == QLatin1String("right")) {
        return PointerButton::right;
    }
    if (lower == QLatin1String("middle")) {
        return PointerButton::middle;
    }
    return PointerButton::left;
}

} // namespace

std::optional<InputEvent> InputEvent::from(const ClientInputPayload& payload)
{
    for (const auto& [name, kind] : kKinds) {
        if (name == payload.eventType) {
            return InputEvent{.kind = kind, .x = payload.x, .y = payload.y, .button = buttonOf(payload.button),
                              .delta = payload.delta, .keyCode = payload.keyCode, .alt = payload.alt,
                              .control = payload.control, .shift = payload.shift};
        }
    }
    return std::nullopt;
}

} // namespace doorwarden
