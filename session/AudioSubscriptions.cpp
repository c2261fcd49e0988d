#include "session/AudioSubscriptions.h"

#include <algorithm>

namespace doorwarden {

AudioQuality AudioSubscriptions::effectiveQuality() const
{
    if (qualities_.empty()) {
        return AudioQuality::automatic;
    }
    AudioQuality best = AudioQuality::dataSaver;
    for (const auto& [viewer, quality] : qualities_) {
        best = std::max(best, quality);
    }
    return best;
}

std::vector<std::string> AudioSubscriptions::viewers() const
{
    std::vector<std::string> viewers;
    viewers.reserve(qualities_.size());
    for (const auto& [viewer, quality] : qualities_) {
        viewers.push_back(viewer);
    }
    return viewers;
}

} // namespace doorwarden
