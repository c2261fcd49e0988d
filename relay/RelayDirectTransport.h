#pragma once

#include "relay/VideoFrameHeader.h"
#include <QByteArray>
#include "relay/RelayMessage.h"

#include <functional>

namespace doorwarden {

// What the relay connection asks of the direct peer transport. Offers return true when the
// transport took the message (it is then sent directly, not over the relay). The calls are made
// on the main thread.
class RelayDirectTransport {
public:
    // Called on the transport's own queue, and never once reset() has returned until a new
    // signal starts a new peer connection; the connection resets the transport before it is
    // destroyed. The connection posts everything to the main thread, where a control message
    // takes the same routes as an encrypted one; it is dropped when the connection is gone.
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
    // Closes the peer connection; waits for a callback that is running, and none runs after.
    virtual void reset() = 0;
};

} // namespace doorwarden
