#pragma once

#include "relay/ClientE2eeError.h"
#include "relay/VideoFrameHeader.h"
#include "relay/crypto/AesGcm.h"
#include "relay/crypto/P256KeyPair.h"
#include "relay/crypto/RandomSource.h"
#include "relay/payload/ClientE2eePayload.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace doorwarden {

// The end-to-end encryption of one support session. Each viewer that says hello gets the
// session's group key wrapped under an ECDH-derived key and a verification code to compare;
// once a viewer proves it holds the group key, messages and video frames are sealed with
// AES-256-GCM under that key, with per-sender counters in the nonces that also stop replays.
// Main thread only.
class ClientSessionE2EE {
public:
    struct ReadyOutcome {
        bool accepted = false;
        std::optional<ClientE2eePayload> reply; // the client's own ready, the first time only
        std::string verificationCode;           // empty when no key was sent to that viewer
    };

    struct VideoFrame {
        VideoFrameHeader::Kind kind = VideoFrameHeader::Kind::h264AccessUnit;
        bool isKeyFrame = false;
        std::uint32_t sequence = 0;
        std::int64_t width = 0;
        std::int64_t height = 0;
        std::int64_t displayWidth = 0;
        std::int64_t displayHeight = 0;
    };

    // A fresh participant id, key pair, group key and epoch, drawn from `random` (which must
    // outlive the session; it also supplies the nonces of wrapped keys).
    explicit ClientSessionE2EE(std::string sessionCode, RandomSource& random = RandomSource::system());

    const std::string& sessionCode() const { return sessionCode_; }
    // 32 upper-case hex digits.
    const std::string& localID() const { return localID_; }
    // 32 lower-case hex digits.
    const std::string& epoch() const { return epoch_; }
    // Base64 of the 91-byte DER SubjectPublicKeyInfo.
    const std::string& publicKey() const { return publicKey_; }
    const std::set<std::string>& readyPeers() const { return readyPeers_; }

    // The client's "e2ee_hello".
    ClientE2eePayload hello() const;

    // The "e2ee_key" for a viewer's hello; records the viewer's verification code.
    E2eeResult<ClientE2eePayload> keyForHello(const ClientE2eePayload& hello);

    // Checks a viewer's "e2ee_ready" proof; never throws.
    ReadyOutcome acceptReady(const ClientE2eePayload& ready);

    // The "e2ee_data" carrying `innerMessage` (UTF-8 JSON) to every ready viewer.
    E2eeResult<ClientE2eePayload> encrypt(std::span<const std::uint8_t> innerMessage);

    // The inner message of a viewer's "e2ee_data". Its counter is recorded only on success.
    E2eeResult<std::vector<std::uint8_t>> decrypt(const ClientE2eePayload& data);

    // The relay video frame: the 44-byte header, then the counter (8 bytes, big-endian), the
    // ciphertext and the 16-byte tag.
    E2eeResult<std::vector<std::uint8_t>> sealVideo(std::span<const std::uint8_t> frame, const VideoFrame& info);

private:
    bool isOwnId(const std::string& id) const;
    bool sharesNoncePrefixWithAnother(const std::string& viewerId) const;
    std::int64_t nextCounter() { return ++sendCounter_; }

    RandomSource& random_;
    const std::string sessionCode_;
    const std::string localID_;
    const P256KeyPair keyPair_;
    const aesGcm::Key groupKey_;
    const std::string epoch_;
    const std::string publicKey_;
    std::map<std::string, std::string> peerCodes_;
    std::set<std::string> readyPeers_;
    std::int64_t sendCounter_ = 0; // shared by messages and video, so no nonce repeats
    std::map<std::string, std::int64_t> receivedCounters_;
};

} // namespace doorwarden
