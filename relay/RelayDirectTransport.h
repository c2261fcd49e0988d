#pragma once

#include "relay/RelayCapture.h"
#include "relay/RelayMessage.h"

#include <functional>

namespace doorwarden {

// What the relay connection asks of the direct peer transport. Offers return true when the
// transport took the message (it is then sent directly, not over the relay).
class RelayDirectTransport {
public:
    struct Callbacks {
        std::function<void(const RelayMessage&)> onSignal;     // to send plain over the relay
        std::function<void(const RelayMessage&)> onControl;    // a control message from the viewer
        std::function<void(bool connected)> onConnectionChanged;
    };

    virtual ~RelayDirectTransport() = default;
    virtual void setCallbacks(Callbacks callbacks) = 0;
    virtual void handleSignal(const RelayMessage& signal) = 0;
    virtual bool offerControl(const RelayMessage& message) = 0;
    virtual bool offerPointer(const RelayMessage& message) = 0;
    virtual void offerVideo(const QByteArray& frame, const VideoFrameHeader& header) = 0;
    virtual void reset() = 0;
};

} // namespace doorwarden
