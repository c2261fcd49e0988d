#include "relay/E2eeProtocol.h"

#include "relay/crypto/Hkdf.h"

#include <openssl/crypto.h>

namespace doorwarden::e2ee {

std::optional<P256KeyPair::PublicPoint> peerPointOf(std::string_view base64PublicKey)
{
    const auto bytes = base64Decode(base64PublicKey);
    P256KeyPair::PublicPoint point{};
    if (!bytes || bytes->size() < point.size()) {
        return std::nullopt;
    }
    std::copy(bytes->end() - static_cast<std::ptrdiff_t>(point.size()), bytes->end(), point.begin());
    return point;
}

aesGcm::Key wrapKey(const P256KeyPair::SharedSecret& sharedSecret, std::string_view sessionCode,
                    std::string_view viewerId)
{
    const auto inputKey = sha256(sharedSecret);
    const auto salt = sha256("Doorwarden.E2EE.WrapSalt.v1|" + std::string(sessionCode));
    const std::string info = "Doorwarden.E2EE.Wrap.v1|" + std::string(viewerId);
    return hkdfSha256(salt, inputKey, bytesOf(info));
}

std::string keyAssociatedData(std::string_view epoch, std::string_view clientId, std::string_view viewerId)
{
    return "Doorwarden.E2EE.Key.v1|" + std::string(epoch) + "|" + std::string(clientId) + "|" + std::string(viewerId);
}

std::string verificationCode(const aesGcm::Key& wrapKey, std::string_view epoch, std::string_view clientId,
                             std::string_view viewerId, std::string_view clientPublicKey,
                             std::string_view viewerPublicKey)
{
    const std::string message = "Doorwarden.E2EE.SAS.v2|" + std::string(epoch) + "|" + std::string(clientId) + "|" +
                                std::string(viewerId) + "|" + std::string(clientPublicKey) + "|" +
                                std::string(viewerPublicKey);
    const auto mac = hmacSha256(wrapKey, message);
    const std::uint32_t value = (std::uint32_t{mac[0]} << 24) | (std::uint32_t{mac[1]} << 16) |
                                (std::uint32_t{mac[2]} << 8) | std::uint32_t{mac[3]};
    return verificationCodeOf(value % 923521);
}

std::string verificationCodeOf(std::uint32_t value)
{
    std::string code(4, ' ');
    for (int position = 3; position >= 0; --position) {
        code[static_cast<std::size_t>(position)] = kSasAlphabet[value % kSasAlphabet.size()];
        value /= static_cast<std::uint32_t>(kSasAlphabet.size());
    }
    return code;
}

Sha256Digest readyProof(const aesGcm::Key& groupKey, std::string_view epoch, std::string_view senderId)
{
    return hmacSha256(groupKey, "Doorwarden.E2EE.Ready.v1|" + std::string(epoch) + "|" + std::string(senderId));
}

aesGcm::Nonce dataNonce(std::string_view senderId, std::int64_t counter)
{
    const auto digest = sha256(senderId);
    aesGcm::Nonce nonce{};
    std::copy_n(digest.begin(), 4, nonce.begin());
    for (int i = 0; i < 8; ++i) {
        nonce[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(counter) >> (56 - 8 * i));
    }
    return nonce;
}

std::string dataAssociatedData(std::string_view epoch, std::string_view senderId, std::int64_t counter,
                               std::string_view content)
{
    return "Doorwarden.E2EE.Data.v1|" + std::string(epoch) + "|" + std::string(senderId) + "|" +
           std::to_string(counter) + "|" + std::string(content);
}

std::string videoDescriptor(const VideoFrameHeader& header)
{
    auto number = [](auto value) { return std::to_string(value); };
    return "video|" + number(static_cast<int>(header.kind)) + "|1|" + number(header.sequence) + "|" +
           number(header.width) + "|" + number(header.height) + "|" + number(header.displayWidth) + "|" +
           number(header.displayHeight) + "|72|72|" + (header.isKeyFrame ? "True" : "False") + "|-1|-1";
}

ClientE2eePayload helloPayload(const std::string& senderId, const std::string& publicKey)
{
    ClientE2eePayload hello;
    hello.version = kVersion;
    hello.senderId = senderId;
    hello.publicKey = publicKey;
    return hello;
}

bool proofMatches(const aesGcm::Key& groupKey, std::string_view epoch, std::string_view senderId,
                  std::string_view base64Proof)
{
    const auto proof = decodeExactly<std::tuple_size_v<Sha256Digest>>(base64Proof);
    const auto expected = readyProof(groupKey, epoch, senderId);
    return proof && CRYPTO_memcmp(proof->data(), expected.data(), expected.size()) == 0;
}

ClientE2eePayload readyPayload(const aesGcm::Key& groupKey, const std::string& epoch, const std::string& senderId)
{
    ClientE2eePayload ready;
    ready.version = kVersion;
    ready.epoch = epoch;
    ready.senderId = senderId;
    ready.proof = base64Encode(readyProof(groupKey, epoch, senderId));
    return ready;
}

ClientE2eePayload sealData(const aesGcm::Key& groupKey, const std::string& epoch, const std::string& senderId,
                           std::int64_t counter, std::span<const std::uint8_t> innerMessage)
{
    std::vector<std::uint8_t> ciphertext(innerMessage.size());
    const auto tag = aesGcm::seal(groupKey, dataNonce(senderId, counter),
                                  bytesOf(dataAssociatedData(epoch, senderId, counter, "json")), innerMessage,
                                  ciphertext);
    ClientE2eePayload data;
    data.version = kVersion;
    data.epoch = epoch;
    data.senderId = senderId;
    data.counter = counter;
    data.ciphertext = base64Encode(ciphertext);
    data.tag = base64Encode(tag);
    return data;
}

E2eeResult<std::vector<std::uint8_t>> openData(const aesGcm::Key& groupKey, const ClientE2eePayload& data)
{
    auto ciphertext = base64Decode(data.ciphertext);
    const auto tag = decodeExactly<std::tuple_size_v<aesGcm::Tag>>(data.tag);
    if (!ciphertext || !tag) {
        return ClientE2eeError::invalidPeer;
    }
    // Opened in place: the plaintext replaces the ciphertext.
    if (!aesGcm::open(groupKey, dataNonce(data.senderId, data.counter),
                      bytesOf(dataAssociatedData(data.epoch, data.senderId, data.counter, "json")), *ciphertext, *tag,
                      *ciphertext)) {
        return ClientE2eeError::authenticationFailed;
    }
    return std::move(*ciphertext);
}

} // namespace doorwarden::e2ee
