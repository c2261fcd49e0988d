#pragma once

#include <ostream>

namespace doorwarden {

// What the adaptive controller decides for one capture.
struct ClientAdaptiveVideoControllerState {
    int targetFps = 20;      // capture and encoder frame rate, 10 to 30
    int resolutionTier = 0;  // 0: full (within 2560 x 1440), 1: reduced (within 1920 x 1080)
    int bitratePercent = 100; // of the encoder's base bitrate: 50, 65, 80 or 100

    bool operator==(const ClientAdaptiveVideoControllerState&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const ClientAdaptiveVideoControllerState& state)
{
    return out << state.targetFps << " fps, tier " << state.resolutionTier << ", " << state.bitratePercent << " %";
}

} // namespace doorwarden
