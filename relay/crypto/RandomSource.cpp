#include "relay/crypto/RandomSource.h"

#include <openssl/rand.h>

#include <array>
#include <climits>
#include <stdexcept>

namespace doorwarden {

namespace {

class SystemRandomSource final : public RandomSource {
public:
    void fill(std::span<std::uint8_t> out) override
    {
        if (out.size() > INT_MAX || RAND_bytes(out.data(), static_cast<int>(out.size())) != 1) {
            throw std::runtime_error("the system random source failed");
        }
    }
};

} // namespace

RandomSource& RandomSource::system()
{
    static SystemRandomSource source;
    return source;
}

std::string randomIdentifier(RandomSource& random)
{
    std::array<std::uint8_t, 16> uuid{};
    random.fill(uuid);
    uuid[6] = static_cast<std::uint8_t>((uuid[6] & 0x0f) | 0x40); // version 4
    uuid[8] = static_cast<std::uint8_t>((uuid[8] & 0x3f) | 0x80); // RFC 4122 variant
    return hexString(uuid, false);
}

std::string hexString(std::span<const std::uint8_t> bytes, bool upperCase)
{
    const char* digits = upperCase ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const auto byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 0x0f];
    }
    return text;
}

} // namespace doorwarden
