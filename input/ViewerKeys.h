#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace doorwarden::viewerKeys {

// Viewers send Windows virtual-key codes. Each mapped code names the key at that position on a
// US keyboard by its XKB name ("AC01" is the key right of Caps Lock, "A" on a US keyboard), so
// the customer's own layout decides the character: a Korean, German or French keyboard types
// what its key in that place types. Modifier keys, the keypad, Insert and every other code are
// not mapped: modifiers come only as flags on mapped keys. Code 21 (Hangul) names "HNGL", which
// the injector resolves to the Hangul key when the keymap has one.
std::optional<std::string_view> keyName(std::int64_t windowsKeyCode);

// The code whose key is named `name`: what a viewer sends for the key in that place.
std::optional<std::int64_t> windowsKeyCode(std::string_view name);

// The keys held for a key event's flags.
inline constexpr std::string_view kShift = "LFSH";
inline constexpr std::string_view kControl = "LCTL";
inline constexpr std::string_view kAlt = "LALT";
inline constexpr std::string_view kHangul = "HNGL";

} // namespace doorwarden::viewerKeys
