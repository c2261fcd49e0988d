#pragma once

#include <string_view>

namespace doorwarden {

// The sound quality a viewer asks for, lowest first.
enum class AudioQuality { dataSaver, automatic, high, maximum };

// The quality a viewer's text names, compared exactly; anything else, an empty text included,
// is automatic.
AudioQuality audioQualityNamed(std::string_view name);

// The name on the wire and in the log.
std::string_view nameOf(AudioQuality quality);

} // namespace doorwarden
