#pragma once

#include "relay/VideoFrameHeader.h"
#include "relay/crypto/AesGcm.h"
#include "relay/crypto/P256KeyPair.h"
#include "relay/crypto/RandomSource.h"
#include "relay/payload/ClientE2eePayload.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace doorwarden {

// The viewer's end of a support session's end-to-end encryption, for development tools and
// tests. It says hello with its own P-256 key, unwraps the group key the client sends it,
// proves it holds that key, checks the client's proof, then exchanges data messages with the
// client and opens the client's relay video frames. What it refuses comes back absent (or
// false); nothing after construction throws. Main thread only.
class ViewerSessionE2EE {
public:
    struct OpenedVideo {
        VideoFrameHeader header;
        std::vector<std::uint8_t> frame;
    };

    // A fresh key pair drawn from `random` (used only here); no key accepted yet.
    ViewerSessionE2EE(std::string sessionCode, std::string viewerId, RandomSource& random = RandomSource::system());

    const std::string& viewerId() const { return viewerId_; }
    // Base64 of the 91-byte DER SubjectPublicKeyInfo.
    const std::string& publicKey() const { return publicKey_; }

    // The viewer's "e2ee_hello".
    ClientE2eePayload hello() const;

    // Unwraps the group key of the client's "e2ee_key" and returns the viewer's "e2ee_ready".
    // Absent when the key is addressed to someone else, does not open, or a key was already
    // accepted (one key per session).
    std::optional<ClientE2eePayload> acceptKey(const ClientE2eePayload& key);

    // True once a key was accepted: the viewer can then encrypt and decrypt.
    bool isReady() const { return groupKey_.has_value(); }
    // The client's epoch; empty before a key was accepted.
    const std::string& epoch() const { return epoch_; }
    // The four characters to compare with the client's; empty before a key was accepted.
    const std::string& verificationCode() const { return verificationCode_; }

    // True when the client's "e2ee_ready" proves it holds the same group key.
    bool acceptClientReady(const ClientE2eePayload& ready) const;

    // The "e2ee_data" carrying `innerMessage` to the client, under the viewer's own counter
    // (1 for the first); absent before a key was accepted.
    std::optional<ClientE2eePayload> encrypt(std::span<const std::uint8_t> innerMessage);

    // The inner message of the client's "e2ee_data". The counter must exceed that of the last
    // message opened; it is recorded only on success.
    std::optional<std::vector<std::uint8_t>> decrypt(const ClientE2eePayload& data);

    // The header and frame bytes of a relay video frame sealed by the client. The counter must
    // exceed that of the last frame opened (frames and messages are tracked apart: their
    // associated data differ, so one cannot be replayed as the other).
    std::optional<OpenedVideo> openVideo(std::span<const std::uint8_t> sealed);

private:
    const std::string sessionCode_;
    const std::string viewerId_;
    const P256KeyPair keyPair_;
    const std::string publicKey_;
    std::optional<aesGcm::Key> groupKey_;
    std::string epoch_;
    std::string clientId_;
    std::string verificationCode_;
    std::int64_t sendCounter_ = 0;
    std::int64_t lastMessageCounter_ = 0;
    std::int64_t lastVideoCounter_ = 0;
};

} // namespace doorwarden
