#pragma once

#include "relay/payload/VoiceFramePayload.h"

namespace doorwarden {

// One Opus packet of system audio: the same six keys as a voice frame.
using ClientAudioFramePayload = VoiceFramePayload;

} // namespace doorwarden
