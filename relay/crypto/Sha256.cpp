#include "relay/crypto/Sha256.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <stdexcept>

namespace doorwarden {

Sha256Digest sha256(std::span<const std::uint8_t> data)
{
    Sha256Digest digest{};
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1) {
        throw std::runtime_error("SHA-256 failed");
    }
    return digest;
}

Sha256Digest sha256(std::string_view text)
{
    return sha256(bytesOf(text));
}

Sha256Digest hmacSha256(std::span<const std::uint8_t> key, std::span<const std::uint8_t> message)
{
    Sha256Digest mac{};
    unsigned int length = 0;
    if (HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), message.data(), message.size(), mac.data(),
             &length) == nullptr) {
        throw std::runtime_error("HMAC-SHA-256 failed");
    }
    return mac;
}

Sha256Digest hmacSha256(std::span<const std::uint8_t> key, std::string_view message)
{
    return hmacSha256(key, bytesOf(message));
}

std::span<const std::uint8_t> bytesOf(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

} // namespace doorwarden
