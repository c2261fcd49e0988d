#pragma once

#include <cstdint>
#include <string>

namespace doorwarden {

// Key exchange or encrypted content. Fields a message does not use are empty or 0.
struct ClientE2eePayload {
    std::int64_t version = 0;
    std::string epoch;
    std::string senderId;
    std::string recipientId;
    std::string publicKey; // Base64
    std::string nonce; // Base64
    std::int64_t counter = 0;
    std::string ciphertext; // Base64
    std::string tag; // Base64
    std::string proof; // Base64

    bool operator==(const ClientE2eePayload&) const = default;
};

} // namespace doorwarden
