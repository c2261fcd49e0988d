#pragma once

#include "relay/Base64.h"
#include "relay/ClientE2eeError.h"
#include "relay/VideoFrameHeader.h"
#include "relay/crypto/AesGcm.h"
#include "relay/crypto/P256KeyPair.h"
#include "relay/crypto/Sha256.h"
#include "relay/payload/ClientE2eePayload.h"

#include <cstdint>
#include <algorithm>
#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace doorwarden::e2ee {

// The derivations both ends of the end-to-end encryption compute alike: the client's session
// and the viewer's side in the tools.

inline constexpr std::int64_t kVersion = 1;
// The client's sender id in data messages and video frames.
inline constexpr std::string_view kClientSenderId = "client";
inline constexpr std::string_view kSasAlphabet = "ABCDEFGHJKMNPQRSTUVWXYZ23456789";

// The peer's P-256 point from its Base64 public key, a bare 65-byte point or a DER
// SubjectPublicKeyInfo (the last 65 bytes are taken); absent when shorter or not Base64.
std::optional<P256KeyPair::PublicPoint> peerPointOf(std::string_view base64PublicKey);

// HKDF-SHA-256 of SHA-256(shared secret), salted by the session code, for one viewer.
aesGcm::Key wrapKey(const P256KeyPair::SharedSecret& sharedSecret, std::string_view sessionCode,
                    std::string_view viewerId);

// Associated data of the wrapped group key.
std::string keyAssociatedData(std::string_view epoch, std::string_view clientId, std::string_view viewerId);

// The four-character code both people compare.
std::string verificationCode(const aesGcm::Key& wrapKey, std::string_view epoch, std::string_view clientId,
                             std::string_view viewerId, std::string_view clientPublicKey,
                             std::string_view viewerPublicKey);

// The four characters of a value below 31^4, most significant first.
std::string verificationCodeOf(std::uint32_t value);

// What a participant sends to prove it holds the group key.
Sha256Digest readyProof(const aesGcm::Key& groupKey, std::string_view epoch, std::string_view senderId);

// First four bytes of SHA-256(sender id), then the counter big-endian.
aesGcm::Nonce dataNonce(std::string_view senderId, std::int64_t counter);

// Associated data of a data message ("json") or a video frame (its descriptor).
std::string dataAssociatedData(std::string_view epoch, std::string_view senderId, std::int64_t counter,
                               std::string_view content);

// The descriptor of a video frame in its associated data.
std::string videoDescriptor(const VideoFrameHeader& header);

// A participant's "e2ee_hello".
ClientE2eePayload helloPayload(const std::string& senderId, const std::string& publicKey);

// Whether a Base64 proof is the sender's ready proof; compared in constant time.
bool proofMatches(const aesGcm::Key& groupKey, std::string_view epoch, std::string_view senderId,
                  std::string_view base64Proof);

// A participant's "e2ee_ready", proving it holds the group key.
ClientE2eePayload readyPayload(const aesGcm::Key& groupKey, const std::string& epoch, const std::string& senderId);

// The "e2ee_data" that carries `innerMessage` (UTF-8 JSON) from `senderId` with `counter`.
ClientE2eePayload sealData(const aesGcm::Key& groupKey, const std::string& epoch, const std::string& senderId,
                           std::int64_t counter, std::span<const std::uint8_t> innerMessage);

// The inner message of an "e2ee_data", opened with the epoch, sender and counter it names:
// invalidPeer when its ciphertext or tag is not Base64 of the right size,
// authenticationFailed when it does not open. Which senders and counters to accept is the
// caller's to decide first.
E2eeResult<std::vector<std::uint8_t>> openData(const aesGcm::Key& groupKey, const ClientE2eePayload& data);

// Exactly N bytes of Base64; absent for anything else.
template <std::size_t N>
std::optional<std::array<std::uint8_t, N>> decodeExactly(std::string_view base64)
{
    const auto bytes = base64Decode(base64);
    if (!bytes || bytes->size() != N) {
        return std::nullopt;
    }
    std::array<std::uint8_t, N> out{};
    std::copy(bytes->begin(), bytes->end(), out.begin());
    return out;
}

} // namespace doorwarden::e2ee
