#pragma once

#include "platform/AudioBuffer.h"
#include "platform/StartResult.h"

#include <functional>

namespace doorwarden {

// The sound the machine plays (its output, not the microphone), delivered as PCM buffers in
// the format the system gives; converting and encoding them is the caller's work.
//
// Created on the main thread by the session environment, then used and destroyed only on the
// audio runner (ThreadContext::audio()). start() and stop() alternate, start first; start() is
// called only on a stopped capturer, stop() may be called in any state. Destroying a running
// capturer stops it.
class SystemAudioCapturer {
public:
    // Receives each buffer on the audio runner; the buffer is valid only during the call.
    using Handler = std::function<void(const AudioBuffer& buffer)>;

    virtual ~SystemAudioCapturer() = default;

    // Starts capturing into `handler`. The handler runs on the audio runner, never inside
    // start() or stop(), and never after stop() returned or the capturer was destroyed. On
    // failure the handler is dropped unused and the capturer may be started again later.
    virtual StartResult start(Handler handler) = 0;
    virtual void stop() = 0;
};

} // namespace doorwarden
