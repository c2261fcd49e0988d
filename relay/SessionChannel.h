#pragma once

#include "relay/EncodedVideoFrame.h"
#include "relay/RelayMessage.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace doorwarden {

// How a session service talks to the viewers. Messages to viewers go on the direct path when
// it is up, else encrypted over the relay (and are dropped, `done(false)`, when neither can
// carry them); messages to the relay go plain. A completion never runs inside the call that
// was given it. Main thread.
class SessionChannel {
public:
    using Done = std::function<void(bool sent)>;

    // What the video lane reports back to the capture.
    struct VideoFeedback {
        std::function<void()> keyFrameNeeded;
        // Frames still waiting, and how long the last send took (0 when a frame joined a queue).
        std::function<void(std::size_t queuedFrames, double sendMilliseconds)> transportSample;
    };

    virtual ~SessionChannel() = default;

    // To every ready viewer.
    virtual void sendToViewers(RelayMessage message, Done done = {}) = 0;
    // To the named ready viewers only (ids as in InboundMessage::viewer); unknown ids are left out,
    // and nothing is sent when none is left.
    virtual void sendToViewers(const std::vector<std::string>& viewers, RelayMessage message, Done done = {}) = 0;
    // A plain message for the relay itself. Bulky ones (which can wait or be asked for again)
    // are the first dropped when the relay reads slowly.
    virtual void sendToRelay(RelayMessage message, bool bulky, Done done = {}) = 0;

    // An encoded picture: sealed for the viewers and queued on the relay's video lane, and
    // offered to the direct path.
    virtual void sendVideoFrame(const EncodedVideoFrame& frame) = 0;
    virtual void setVideoFeedback(VideoFeedback feedback) = 0;

    // The support code of the running session.
    virtual std::string sessionCode() const = 0;
    // The machine's name as peers see it.
    virtual std::string machineName() const = 0;
};

} // namespace doorwarden
