#pragma once

#include "relay/crypto/RandomSource.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

struct evp_pkey_st;

namespace doorwarden {

// A P-256 key-agreement key pair. Public keys travel as X9.63 uncompressed points (65 bytes,
// starting 0x04) or inside a DER SubjectPublicKeyInfo (91 bytes).
class P256KeyPair {
public:
    using PublicPoint = std::array<std::uint8_t, 65>;
    using SubjectPublicKeyInfo = std::array<std::uint8_t, 91>;
    using SharedSecret = std::array<std::uint8_t, 32>;

    // A fresh key pair whose private scalar is drawn from `random`.
    static P256KeyPair generate(RandomSource& random);

    // The key pair of a private scalar (32 bytes, big-endian); absent when the scalar is zero
    // or not below the group order.
    static std::optional<P256KeyPair> fromPrivateScalar(std::span<const std::uint8_t, 32> scalar);

    const PublicPoint& publicPoint() const { return publicPoint_; }
    SubjectPublicKeyInfo subjectPublicKeyInfo() const;

    // ECDH with a peer's uncompressed point: the x coordinate of the shared point. Absent
    // when the peer's bytes are not a point on P-256 (which would leak the private key to an
    // invalid-curve attack if used).
    std::optional<SharedSecret> agree(std::span<const std::uint8_t> peerPoint) const;

private:
    struct KeyDeleter {
        void operator()(evp_pkey_st* key) const;
    };

    P256KeyPair(std::unique_ptr<evp_pkey_st, KeyDeleter> key, const PublicPoint& point);

    std::shared_ptr<evp_pkey_st> key_;
    PublicPoint publicPoint_{};
};

} // namespace doorwarden
