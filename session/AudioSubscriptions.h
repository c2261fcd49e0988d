#pragma once

#include "media/AudioQuality.h"

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace doorwarden {

// The viewers that listen to the system audio, each with the quality it asked for, keyed by the
// viewer's proven identity: one entry per ready viewer at most, and no viewer (nor the relay)
// can change another's. The audio is captured at the best quality any of them asked for. Main
// thread.
class AudioSubscriptions {
public:
    void subscribe(const std::string& viewer, AudioQuality quality) { qualities_[viewer] = quality; }
    void unsubscribe(const std::string& viewer) { qualities_.erase(viewer); }
    void clear() { qualities_.clear(); }

    bool isActive() const { return !qualities_.empty(); }
    std::size_t count() const { return qualities_.size(); }
    // The best quality asked for; automatic with no subscriber.
    AudioQuality effectiveQuality() const;
    // The subscribers: the targets of every audio frame.
    std::vector<std::string> viewers() const;

private:
    std::map<std::string, AudioQuality> qualities_;
};

} // namespace doorwarden
