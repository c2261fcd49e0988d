#pragma once

#include "relay/payload/ClientAudioFramePayload.h"

namespace doorwarden {

// Where the system audio hands its encoded packets. Called on the audio runner.
class AudioSink {
public:
    virtual ~AudioSink() = default;
    virtual void audioFrame(ClientAudioFramePayload frame) = 0;
};

} // namespace doorwarden
