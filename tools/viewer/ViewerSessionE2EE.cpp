#include "viewer/ViewerSessionE2EE.h"

#include "relay/Base64.h"
#include "relay/E2eeProtocol.h"

#include <algorithm>

namespace doorwarden {

ViewerSessionE2EE::ViewerSessionE2EE(std::string sessionCode, std::string viewerId, RandomSource& random)
    : sessionCode_(std::move(sessionCode))
    , viewerId_(std::move(viewerId))
    , keyPair_(P256KeyPair::generate(random))
    , publicKey_(base64Encode(keyPair_.subjectPublicKeyInfo()))
{
}

ClientE2eePayload ViewerSessionE2EE::hello() const
{
    return e2ee::helloPayload(viewerId_, publicKey_);
}

std::optional<ClientE2eePayload> ViewerSessionE2EE::acceptKey(const ClientE2eePayload& key)
{
    if (groupKey_ || key.version != e2ee::kVersion || key.recipientId != viewerId_ || key.epoch.empty() ||
        key.senderId.empty()) {
        return std::nullopt;
    }
    const auto nonce = e2ee::decodeExactly<std::tuple_size_v<aesGcm::Nonce>>(key.nonce);
    const auto wrapped = e2ee::decodeExactly<std::tuple_size_v<aesGcm::Key>>(key.ciphertext);
    const auto tag = e2ee::decodeExactly<std::tuple_size_v<aesGcm::Tag>>(key.tag);
    const auto clientPoint = e2ee::peerPointOf(key.publicKey);
    const auto sharedSecret = clientPoint ? keyPair_.agree(*clientPoint) : std::nullopt;
    if (!nonce || !wrapped || !tag || !sharedSecret) {
        return std::nullopt;
    }
    const auto wrapKey = e2ee::wrapKey(*sharedSecret, sessionCode_, viewerId_);
    aesGcm::Key groupKey{};
    if (!aesGcm::open(wrapKey, *nonce, bytesOf(e2ee::keyAssociatedData(key.epoch, key.senderId, viewerId_)), *wrapped,
                      *tag, groupKey)) {
        return std::nullopt;
    }
    groupKey_ = groupKey;
    epoch_ = key.epoch;
    clientId_ = key.senderId;
    verificationCode_ = e2ee::verificationCode(wrapKey, epoch_, clientId_, viewerId_, key.publicKey, publicKey_);

    auto ready = e2ee::readyPayload(*groupKey_, epoch_, viewerId_);
    return ready;
}

bool ViewerSessionE2EE::acceptClientReady(const ClientE2eePayload& ready) const
{
    if (!groupKey_ || ready.epoch != epoch_ || ready.senderId != clientId_) {
        return false;
    }
    return e2ee::proofMatches(*groupKey_, epoch_, clientId_, ready.proof);
}

std::optional<ClientE2eePayload> ViewerSessionE2EE::encrypt(std::span<const std::uint8_t> innerMessage)
{
    if (!groupKey_) {
        return std::nullopt;
    }
    return e2ee::sealData(*groupKey_, epoch_, viewerId_, ++sendCounter_, innerMessage);
}

std::optional<std::vector<std::uint8_t>> ViewerSessionE2EE::decrypt(const ClientE2eePayload& data)
{
    if (!groupKey_ || data.epoch != epoch_ || data.senderId != e2ee::kClientSenderId ||
        data.counter <= lastMessageCounter_) {
        return std::nullopt;
    }
    auto opened = e2ee::openData(*groupKey_, data);
    if (!opened) {
        return std::nullopt;
    }
    lastMessageCounter_ = data.counter;
    return std::move(opened).value();
}

std::optional<ViewerSessionE2EE::OpenedVideo> ViewerSessionE2EE::openVideo(std::span<const std::uint8_t> sealed)
{
    constexpr std::size_t kCounterSize = 8;
    constexpr std::size_t kTagSize = std::tuple_size_v<aesGcm::Tag>;
    const auto header = VideoFrameHeader::read(sealed);
    if (!groupKey_ || !header) {
        return std::nullopt;
    }
    const auto body = sealed.subspan(VideoFrameHeader::size);
    if (body.size() != header->bodyLength || body.size() < kCounterSize + kTagSize) {
        return std::nullopt;
    }
    std::uint64_t counterBits = 0;
    for (std::size_t i = 0; i < kCounterSize; ++i) {
        counterBits = (counterBits << 8) | body[i];
    }
    if (counterBits > static_cast<std::uint64_t>(INT64_MAX) ||
        static_cast<std::int64_t>(counterBits) <= lastVideoCounter_) {
        return std::nullopt;
    }
    const auto counter = static_cast<std::int64_t>(counterBits);
    const auto ciphertext = body.subspan(kCounterSize, body.size() - kCounterSize - kTagSize);
    aesGcm::Tag tag{};
    std::copy(ciphertext.end(), body.end(), tag.begin());

    OpenedVideo opened{*header, std::vector<std::uint8_t>(ciphertext.size())};
    if (!aesGcm::open(*groupKey_, e2ee::dataNonce(e2ee::kClientSenderId, counter),
                      bytesOf(e2ee::dataAssociatedData(epoch_, e2ee::kClientSenderId, counter,
                                                       e2ee::videoDescriptor(*header))),
                      ciphertext, tag, opened.frame)) {
        return std::nullopt;
    }
    lastVideoCounter_ = counter;
    return opened;
}

} // namespace doorwarden
