#pragma once

namespace doorwarden {

// Where the arrow, Home and End keys move the active box of the code entry.
enum class ClientCodeMovement { left, right, home, end };

} // namespace doorwarden
