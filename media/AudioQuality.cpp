#include "media/AudioQuality.h"

#include <array>
#include <utility>

namespace doorwarden {

namespace {

constexpr std::array<std::pair<AudioQuality, std::string_view>, 4> kNames = {{
    {AudioQuality::dataSaver, "data_saver"},
    {AudioQuality::automatic, "automatic"},
    {AudioQuality::high, "high"},
    {AudioQuality::maximum, "maximum"},
}};

} // namespace

AudioQuality audioQualityNamed(std::string_view name)
{
    for (const auto& [quality, known] : kNames) {
        if (known == name) {
            return quality;
        }
    }
    return AudioQuality::automatic;
}

std::string_view nameOf(AudioQuality quality)
{
    for (const auto& [known, name] : kNames) {
        if (known == quality) {
            return name;
        }
    }
    return "automatic";
}

} // namespace doorwarden
