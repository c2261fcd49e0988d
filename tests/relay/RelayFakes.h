#pragma once

#include "relay/RelayDirectTransport.h"
#include "relay/RelayMessage.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace doorwarden {

// Records offers and keeps the callbacks, so the test can play the direct channel. Offers are
// taken only when the test says so.
class FakeDirectTransport final : public RelayDirectTransport {
public:
    void setCallbacks(Callbacks value) override { callbacks = std::move(value); }
    void handleSignal(const RelayMessage& signal) override { handledSignals.push_back(signal); }
    bool offerControl(const RelayMessage& message) override
    {
        controlOffers.push_back(message);
        return takesControl;
    }
    bool offerPointer(const RelayMessage& message) override
    {
        pointerOffers.push_back(message);
        return takesPointer;
    }
    void offerVideo(const QByteArray& frame, const VideoFrameHeader& header) override
    {
        videoOffers.emplace_back(frame, header);
    }
    void reset() override { ++resets; }

    bool takesControl = false;
    bool takesPointer = false;
    Callbacks callbacks;
    std::vector<RelayMessage> handledSignals;
    std::vector<RelayMessage> controlOffers;
    std::vector<RelayMessage> pointerOffers;
    std::vector<std::pair<QByteArray, VideoFrameHeader>> videoOffers;
    int resets = 0;
};

} // namespace doorwarden
