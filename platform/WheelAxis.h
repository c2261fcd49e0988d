#pragma once

namespace doorwarden {

// The direction a scroll wheel turns.
enum class WheelAxis {
    vertical,
    horizontal,
};

} // namespace doorwarden
