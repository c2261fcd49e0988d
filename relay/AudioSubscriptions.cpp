#include "relay/AudioSubscriptions.h"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace doorwarden {

namespace {

std::size_t rankOf(std::string_view quality)
{
    const auto* begin = std::begin(AudioSubscriptions::kQualities);
    const auto* end = std::end(AudioSubscriptions::kQualities);
    const auto* found = std::find(begin, end, quality);
    return found == end ? 1 : static_cast<std::size_t>(found - begin);
}

} // namespace

void AudioSubscriptions::subscribe(const std::string& viewer, const std::string& quality)
{
    qualities_[viewer] = kQualities[rankOf(quality)];
}

void AudioSubscriptions::unsubscribe(const std::string& viewer)
{
    qualities_.erase(viewer);
}

std::string AudioSubscriptions::effectiveQuality() const
{
    std::size_t best = 0;
    for (const auto& [viewer, quality] : qualities_) {
        best = std::max(best, rankOf(quality));
    }
    return qualities_.empty() ? "automatic" : kQualities[best];
}

std::vector<std::string> AudioSubscriptions::viewers() const
{
    std::vector<std::string> names;
    names.reserve(qualities_.size());
    for (const auto& [viewer, quality] : qualities_) {
        names.push_back(viewer);
    }
    return names;
}

} // namespace doorwarden
