#include "relay/RelayMessage.h"

namespace doorwarden {

RelayMessage RelayMessage::of(RelayMessageType messageType)
{
    RelayMessage message;
    message.type = wireName(messageType);
    return message;
}

bool RelayMessage::is(RelayMessageType messageType) const
{
    return type == wireName(messageType);
}

} // namespace doorwarden
