#pragma once

#include "relay/MessageOrigin.h"
#include "relay/RelayMessage.h"
#include "relay/RelayMessageType.h"

#include <string>

namespace doorwarden {

// One message as a route's handler gets it: its type parsed once, and who sent it.
struct InboundMessage {
    const RelayMessage& message;
    RelayMessageType type;
    MessageOrigin origin;
    // The viewer that sent it, by the sender id bound to its key at its hello; empty for the
    // relay. Never the name the relay writes on the envelope.
    std::string viewer;
};

} // namespace doorwarden
