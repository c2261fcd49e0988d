#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace doorwarden {

// The viewers that listen to the system audio, each with the quality it asked for. The audio is
// captured at the best quality any of them asked for. Main thread.
class AudioSubscriptions {
public:
    // Qualities, lowest first; an unknown quality counts as "automatic".
    static constexpr const char* kQualities[] = {"data_saver", "automatic", "high", "maximum"};

    void subscribe(const std::string& viewer, const std::string& quality);
    void unsubscribe(const std::string& viewer);
    void clear() { qualities_.clear(); }

    bool isActive() const { return !qualities_.empty(); }
    std::size_t count() const { return qualities_.size(); }
    // The best quality asked for; "automatic" with no subscriber.
    std::string effectiveQuality() const;
    // The subscribers, in name order: the targets of every audio frame.
    std::vector<std::string> viewers() const;

private:
    std::map<std::string, std::string> qualities_;
};

} // namespace doorwarden
