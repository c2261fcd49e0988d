#pragma once

namespace doorwarden {

// The pointer buttons the viewer can press (X buttons 1, 2 and 3).
enum class PointerButton {
    left,
    middle,
    right,
};

} // namespace doorwarden
