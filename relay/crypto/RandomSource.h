#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace doorwarden {

// Where secrets and identifiers get their randomness. Production uses the operating system's
// source through OpenSSL; tests inject fixed bytes to reproduce exact exchanges.
class RandomSource {
public:
    virtual ~RandomSource() = default;
    virtual void fill(std::span<std::uint8_t> out) = 0;

    // The process's cryptographically secure source.
    static RandomSource& system();
};

// A random UUID (version 4) in canonical text without hyphens, lower-cased: 32 hex digits.
std::string randomIdentifier(RandomSource& random);

// Bytes as hexadecimal digits, two per byte.
std::string hexString(std::span<const std::uint8_t> bytes, bool upperCase);

} // namespace doorwarden
