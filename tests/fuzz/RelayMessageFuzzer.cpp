// Feeds arbitrary bytes to the relay message decoder. Anything it accepts must survive a
// round trip through the encoder unchanged; anything else must be refused without a crash.

#include "relay/RelayMessageCodec.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using doorwarden::RelayMessageCodec;
    const auto message = RelayMessageCodec::decode(std::span(data, size));
    if (message) {
        const auto again = RelayMessageCodec::decode(RelayMessageCodec::encode(*message));
        if (!again || !(*again == *message)) {
            __builtin_trap();
        }
    }
    return 0;
}
