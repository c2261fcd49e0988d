// Known answers for the end-to-end encryption: first the primitives as the session uses them,
// against their published vectors; then one whole exchange between the client session and a
// viewer, from fixed random draws, down to the bytes of a sealed video frame.
//
// The exchange constants were computed once, from the same fixed inputs, by an independent
// implementation of the protocol (Python with python3-cryptography: its own ECDH, HKDF, HMAC,
// AES-GCM, verification code and frame header), and this session reproduced every one of them.
// A change that alters any of them changes the wire format: old viewers would stop reading it.

#include "relay/Base64.h"
#include "relay/ClientSessionE2EE.h"
#include "relay/E2eeProtocol.h"
#include "relay/EncodedVideoFrame.h"
#include "relay/VideoFrameHeader.h"
#include "relay/crypto/AesGcm.h"
#include "relay/crypto/Hkdf.h"
#include "relay/crypto/P256KeyPair.h"
#include "relay/crypto/RandomSource.h"
#include "relay/crypto/Sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <span>
#include <string>
#include <string_view>
#include <vector>

using namespace doorwarden;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes fromHex(std::string_view hex)
{
    auto digit = [](char c) {
        return static_cast<std::uint8_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    };
    Bytes bytes(hex.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(digit(hex[2 * i]) << 4 | digit(hex[2 * i + 1]));
    }
    return bytes;
}

std::string toHex(std::span<const std::uint8_t> bytes)
{
    return hexString(bytes, false);
}

template <std::size_t N>
std::array<std::uint8_t, N> arrayOf(const Bytes& bytes)
{
    std::array<std::uint8_t, N> out{};
    std::copy_n(bytes.begin(), std::min(N, bytes.size()), out.begin());
    return out;
}

// first, first + 1, ... (count bytes, wrapping at 256)
Bytes counting(std::uint8_t first, std::size_t count)
{
    Bytes bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

// Hands out fixed draws in a fixed order. A draw of another size than the next one scripted,
// or one past the end, fails the test: the order of draws is part of what is pinned here.
class ScriptedRandom final : public RandomSource {
public:
    explicit ScriptedRandom(std::vector<Bytes> draws)
        : draws_(std::move(draws))
    {
    }

    void fill(std::span<std::uint8_t> out) override
    {
        if (next_ >= draws_.size()) {
            ADD_FAILURE() << "unscripted draw of " << out.size() << " bytes";
            std::fill(out.begin(), out.end(), std::uint8_t{0});
            return;
        }
        const Bytes& draw = draws_[next_++];
        if (draw.size() != out.size()) {
            ADD_FAILURE() << "draw " << next_ << " asks for " << out.size() << " bytes, scripted " << draw.size();
        }
        std::fill(out.begin(), out.end(), std::uint8_t{0});
        std::copy_n(draw.begin(), std::min(draw.size(), out.size()), out.begin());
    }

    std::size_t remaining() const { return draws_.size() - next_; }

private:
    std::vector<Bytes> draws_;
    std::size_t next_ = 0;
};

// ---- Primitives -------------------------------------------------------------------------

TEST(E2eePrimitivesTest, Sha256MatchesFips180Examples)
{
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    };
    for (const auto& [message, digest] : cases) {
        EXPECT_EQ(toHex(sha256(message)), digest) << '"' << message << '"';
    }
}

TEST(E2eePrimitivesTest, HmacSha256MatchesRfc4231)
{
    struct Case {
        const char* name;
        Bytes key;
        std::string_view message;
        std::string_view mac;
    };
    const Case cases[] = {
        {"test case 1", Bytes(20, 0x0b), "Hi There",
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {"test case 2", Bytes{'J', 'e', 'f', 'e'}, "what do ya want for nothing?",
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
    };
    for (const auto& each : cases) {
        EXPECT_EQ(toHex(hmacSha256(each.key, each.message)), each.mac) << each.name;
        EXPECT_EQ(toHex(hmacSha256(each.key, bytesOf(each.message))), each.mac) << each.name;
    }
}

// hkdfSha256 stops at 32 bytes, so only the first 32 of each published OKM are compared.
TEST(E2eePrimitivesTest, HkdfSha256MatchesRfc5869)
{
    struct Case {
        const char* name;
        Bytes inputKey;
        Bytes salt;
        Bytes info;
        std::string_view okm;
    };
    const Case cases[] = {
        {"test case 1", Bytes(22, 0x0b), counting(0x00, 13), counting(0xf0, 10),
         "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865"},
        {"test case 2 (inputs longer than a block)", counting(0x00, 80), counting(0x60, 80), counting(0xb0, 80),
         "b11e398dc80327a1c8e7f78c596a49344f012eda2d4efad8a050cc4c19afa97c"
         "59045a99cac7827271cb41c65e590e09da3275600c2f09b8367793a9aca3db71cc30c58179ec3e87c14c01d5c1f3434f1d87"},
        {"test case 3 (empty salt and info)", Bytes(22, 0x0b), Bytes(), Bytes(),
         "8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d9d201395faa4b61a96c8"},
    };
    for (const auto& each : cases) {
        EXPECT_EQ(toHex(hkdfSha256(each.salt, each.inputKey, each.info)), each.okm.substr(0, 64)) << each.name;
    }
}

// Test Case 16 of McGrew and Viega, "The Galois/Counter Mode of Operation (GCM)": 256-bit key,
// 96-bit IV, 20 bytes of associated data, 60 bytes of plaintext (not a whole number of blocks).
struct GcmTestCase16 {
    aesGcm::Key key = arrayOf<32>(fromHex("feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308"));
    aesGcm::Nonce nonce = arrayOf<12>(fromHex("cafebabefacedbaddecaf888"));
    Bytes associatedData = fromHex("feedfacedeadbeeffeedfacedeadbeefabaddad2");
    Bytes plaintext = fromHex("d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a72"
                              "1c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b39");
    Bytes ciphertext = fromHex("522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa"
                               "8cb08e48590dbb3da7b08b1056828838c5f61e6393ba7a0abcc9f662");
    aesGcm::Tag tag = arrayOf<16>(fromHex("76fc6ece0f4e1768cddf8853bb2d551b"));
};

TEST(E2eePrimitivesTest, AesGcmMatchesGcmTestCase16BothWays)
{
    const GcmTestCase16 vector;
    Bytes ciphertext(vector.plaintext.size());
    EXPECT_EQ(aesGcm::seal(vector.key, vector.nonce, vector.associatedData, vector.plaintext, ciphertext),
              vector.tag);
    EXPECT_EQ(ciphertext, vector.ciphertext);

    Bytes plaintext(vector.ciphertext.size());
    ASSERT_TRUE(aesGcm::open(vector.key, vector.nonce, vector.associatedData, vector.ciphertext, vector.tag, plaintext));
    EXPECT_EQ(plaintext, vector.plaintext);
}

// The session seals frames and opens messages in place.
TEST(E2eePrimitivesTest, AesGcmWorksInPlace)
{
    const GcmTestCase16 vector;
    Bytes buffer = vector.plaintext;
    EXPECT_EQ(aesGcm::seal(vector.key, vector.nonce, vector.associatedData, buffer, buffer), vector.tag);
    EXPECT_EQ(buffer, vector.ciphertext);
    ASSERT_TRUE(aesGcm::open(vector.key, vector.nonce, vector.associatedData, buffer, vector.tag, buffer));
    EXPECT_EQ(buffer, vector.plaintext);
}

TEST(E2eePrimitivesTest, AesGcmOpenRefusesAnyAlteration)
{
    struct Alteration {
        const char* name;
        void (*apply)(GcmTestCase16&);
    };
    const Alteration alterations[] = {
        {"lowest tag bit", [](GcmTestCase16& v) { v.tag[0] ^= 0x01; }},
        {"highest bit of the last tag byte", [](GcmTestCase16& v) { v.tag[15] ^= 0x80; }},
        {"ciphertext bit", [](GcmTestCase16& v) { v.ciphertext[30] ^= 0x04; }},
        {"last ciphertext byte dropped", [](GcmTestCase16& v) { v.ciphertext.pop_back(); }},
        {"associated data bit", [](GcmTestCase16& v) { v.associatedData[0] ^= 0x01; }},
        {"associated data emptied", [](GcmTestCase16& v) { v.associatedData.clear(); }},
        {"nonce bit", [](GcmTestCase16& v) { v.nonce[11] ^= 0x01; }},
        {"key bit", [](GcmTestCase16& v) { v.key[31] ^= 0x01; }},
    };
    for (const auto& alteration : alterations) {
        GcmTestCase16 vector;
        alteration.apply(vector);
        Bytes plaintext(vector.ciphertext.size());
        EXPECT_FALSE(aesGcm::open(vector.key, vector.nonce, vector.associatedData, vector.ciphertext, vector.tag,
                                  plaintext))
            << alteration.name;
    }
}

// ---- One whole exchange -----------------------------------------------------------------

// Fixed inputs.
constexpr std::string_view kSessionCode = "482913";
constexpr std::string_view kViewerId = "viewer-4c1d9e2f7a6b3058";
const Bytes kLocalIdDraw = counting(0x00, 16);
const Bytes kPrivateScalarDraw = counting(0x20, 32);
const Bytes kGroupKeyDraw = counting(0x80, 32);
const Bytes kEpochDraw = counting(0xf0, 16); // bytes 6 and 8 change when made a version 4 UUID
const Bytes kKeyNonceDraw = counting(0xc0, 12);
const Bytes kViewerPrivateScalar = counting(0x40, 32);
constexpr std::string_view kClientMessage = R"({"type":"session_end","text":"Support ended"})";
constexpr std::string_view kViewerMessage = R"({"type":"keyframe_request"})";
const Bytes kFrame = fromHex("0000000165888400af3cf1e2d3c4b5a6");
const EncodedVideoFrame kVideoFrame{
    .data = QByteArray(reinterpret_cast<const char*>(kFrame.data()), static_cast<qsizetype>(kFrame.size())),
    .kind = VideoFrameHeader::Kind::h264AccessUnit,
    .isKeyFrame = true,
    .width = 1920,
    .height = 1080,
    .displayWidth = 1920,
    .displayHeight = 1080,
};
constexpr std::uint32_t kFrameSequence = 7;

// Recorded outputs (from the independent implementation).
constexpr std::string_view kLocalId = "000102030405060708090A0B0C0D0E0F";
constexpr std::string_view kEpoch = "f0f1f2f3f4f546f7b8f9fafbfcfdfeff";
constexpr std::string_view kClientPublicKey =
    "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAExlWdQW37Vq9xTxRtkXwkq/gYsvsSFgQSlkmEgjCi0liyptgtxsZzTPCS/6qfwBLxD3AI05UqCNV5foX+q6XZdw==";
constexpr std::string_view kViewerPublicKey =
    "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEaOx88IzUEG5DsU3olUJlIr0KRRUMAn5Fx5U0NNdH57rjrzmojrvuhnm7YeeEXDqJy5taMjfD/bCwWH269BURjQ==";
constexpr std::string_view kSharedSecret = "8235b5c3288c22ce3e26792c3b51b7e802c1d2749e2036f807b62557037ea621";
constexpr std::string_view kWrapKey = "1f5472cfeba63b5658575d817a7f5eb715565aea408854f7a4eece5908363282";
constexpr std::string_view kKeyNonce = "wMHCw8TFxsfIycrL";
constexpr std::string_view kWrappedGroupKey = "paj5usQ4tLSNxwqiUypYWzaTrwd6V1RquppOO2qj8rM=";
constexpr std::string_view kWrappedGroupKeyTag = "Hb+bKjby2smSZWtjIrgPPQ==";
constexpr std::string_view kVerificationCode = "7FG4";
constexpr std::string_view kViewerProof = "BlKOqhOmu2Gq5XP8zWyu1QPjgBnyP8YB+cIaxGjFt7w=";
constexpr std::string_view kClientProof = "mVtNeg0GFV9UuKCLwCyoUESnkzWAjWGp2DHhGsbiM/Q=";
constexpr std::string_view kClientMessageCiphertext = "4mDG7YvFeF4rVHQ4xdqcYStoX57oHdH5NqSHp/wLMuuvtQpfnN4VwQ6474gx";
constexpr std::string_view kClientMessageTag = "vqm09oC2dfQ7VxMTgMCJsA==";
constexpr std::string_view kViewerMessageCiphertext = "2O6AJiUAYkFrwIStOtzxydTClaQs0gqX7h8I";
constexpr std::string_view kViewerMessageTag = "4/KFrWMfdlskLL3SnPktog==";
constexpr std::string_view kSealedFrame = // header (44), counter 2 (8), ciphertext (16), tag (16)
    "3446574402010100070000008007000038040000480000004800000080070000380400002800000000000000"
    "0000000000000002"
    "a84f2e159c09e3735a2638fd6635ac8b"
    "ac869957f7bd7690633d48db4c18c93b";

Bytes decoded(std::string_view base64)
{
    return base64Decode(base64).value_or(Bytes{});
}

// The client session under fixed draws, and the viewer played with the shared derivations
// only, the way a separate implementation of the viewer would.
class E2eeExchangeVectorTest : public ::testing::Test {
protected:
    ClientE2eePayload viewerHello() const
    {
        ClientE2eePayload hello;
        hello.version = 1;
        hello.senderId = std::string(kViewerId);
        hello.publicKey = base64Encode(viewerKey_.subjectPublicKeyInfo());
        return hello;
    }

    // Key and ready proof as recorded; what each step yields is checked in KeyExchange.
    void completeExchange()
    {
        ASSERT_TRUE(session_.keyForHello(viewerHello()).ok());
        ClientE2eePayload ready;
        ready.version = 1;
        ready.epoch = std::string(kEpoch);
        ready.senderId = std::string(kViewerId);
        ready.proof = std::string(kViewerProof);
        ASSERT_TRUE(session_.acceptReady(ready).accepted);
    }

    ScriptedRandom random_{{kLocalIdDraw, kPrivateScalarDraw, kGroupKeyDraw, kEpochDraw, kKeyNonceDraw}};
    ClientSessionE2EE session_{std::string(kSessionCode), 1, random_};
    P256KeyPair viewerKey_ = P256KeyPair::fromPrivateScalar(std::span<const std::uint8_t, 32>(kViewerPrivateScalar.data(), 32)).value();
    const aesGcm::Key groupKey_ = arrayOf<32>(kGroupKeyDraw);
};

TEST_F(E2eeExchangeVectorTest, IdentityAndHelloComeFromTheDrawsInOrder)
{
    EXPECT_EQ(session_.localID(), kLocalId);
    EXPECT_EQ(session_.epoch(), kEpoch);
    EXPECT_EQ(session_.publicKey(), kClientPublicKey);
    EXPECT_EQ(random_.remaining(), 1U) << "only the key nonce is left for the first e2ee_key";

    const ClientE2eePayload hello = session_.hello();
    EXPECT_EQ(hello.version, 1);
    EXPECT_EQ(hello.senderId, kLocalId);
    EXPECT_EQ(hello.publicKey, kClientPublicKey);
    EXPECT_EQ(hello.epoch, "");
    EXPECT_EQ(hello.counter, 0);

    EXPECT_EQ(viewerHello().publicKey, kViewerPublicKey);
}

TEST_F(E2eeExchangeVectorTest, KeyExchangeReproducesTheRecordedValuesOnBothSides)
{
    const auto key = session_.keyForHello(viewerHello());
    ASSERT_TRUE(key.ok());
    EXPECT_EQ(random_.remaining(), 0U);
    EXPECT_EQ(key.value().version, 1);
    EXPECT_EQ(key.value().epoch, kEpoch);
    EXPECT_EQ(key.value().senderId, kLocalId);
    EXPECT_EQ(key.value().recipientId, kViewerId);
    EXPECT_EQ(key.value().publicKey, kClientPublicKey);
    EXPECT_EQ(key.value().nonce, kKeyNonce);
    EXPECT_EQ(key.value().ciphertext, kWrappedGroupKey);
    EXPECT_EQ(key.value().tag, kWrappedGroupKeyTag);
    EXPECT_EQ(key.value().counter, 0);
    EXPECT_EQ(key.value().proof, "");

    // The viewer: agree, derive, unwrap, and show the same code.
    const auto clientPoint = e2ee::peerPointOf(key.value().publicKey);
    ASSERT_TRUE(clientPoint);
    const auto sharedSecret = viewerKey_.agree(*clientPoint);
    ASSERT_TRUE(sharedSecret);
    EXPECT_EQ(toHex(*sharedSecret), kSharedSecret);
    const aesGcm::Key wrapKey = e2ee::wrapKey(*sharedSecret, kSessionCode, kViewerId);
    EXPECT_EQ(toHex(wrapKey), kWrapKey);

    aesGcm::Key unwrapped{};
    ASSERT_TRUE(aesGcm::open(wrapKey, arrayOf<12>(decoded(key.value().nonce)),
                             bytesOf(e2ee::keyAssociatedData(key.value().epoch, key.value().senderId, kViewerId)),
                             decoded(key.value().ciphertext), arrayOf<16>(decoded(key.value().tag)), unwrapped));
    EXPECT_EQ(unwrapped, groupKey_);
    const std::string viewerCode = e2ee::verificationCode(wrapKey, key.value().epoch, key.value().senderId, kViewerId,
                                                          key.value().publicKey, viewerHello().publicKey);
    EXPECT_EQ(viewerCode, kVerificationCode);

    // The viewer proves it holds the group key; the client answers with its own proof.
    ClientE2eePayload ready;
    ready.version = 1;
    ready.epoch = key.value().epoch;
    ready.senderId = std::string(kViewerId);
    ready.proof = base64Encode(e2ee::readyProof(unwrapped, key.value().epoch, kViewerId));
    EXPECT_EQ(ready.proof, kViewerProof);

    const auto outcome = session_.acceptReady(ready);
    EXPECT_TRUE(outcome.accepted);
    EXPECT_EQ(outcome.verificationCode, kVerificationCode);
    ASSERT_TRUE(outcome.reply);
    EXPECT_EQ(outcome.reply->version, 1);
    EXPECT_EQ(outcome.reply->epoch, kEpoch);
    EXPECT_EQ(outcome.reply->senderId, kLocalId);
    EXPECT_EQ(outcome.reply->proof, kClientProof);
    EXPECT_EQ(outcome.reply->proof, base64Encode(e2ee::readyProof(unwrapped, kEpoch, outcome.reply->senderId)));
}

TEST_F(E2eeExchangeVectorTest, MessageThenFrameReproduceTheRecordedBytes)
{
    ASSERT_NO_FATAL_FAILURE(completeExchange());

    const auto data = session_.encrypt(bytesOf(kClientMessage));
    ASSERT_TRUE(data.ok());
    EXPECT_EQ(data.value().version, 1);
    EXPECT_EQ(data.value().epoch, kEpoch);
    EXPECT_EQ(data.value().senderId, "client");
    EXPECT_EQ(data.value().nonce, "");
    EXPECT_EQ(data.value().counter, 1);
    EXPECT_EQ(data.value().ciphertext, kClientMessageCiphertext);
    EXPECT_EQ(data.value().tag, kClientMessageTag);

    Bytes sealed(ClientSessionE2EE::sealedVideoSize(kFrame.size()));
    const auto written = session_.sealVideo(kVideoFrame, kFrameSequence, sealed);
    ASSERT_TRUE(written.ok());
    EXPECT_EQ(written.value(), sealed.size());
    EXPECT_EQ(toHex(sealed), kSealedFrame);
    EXPECT_EQ(random_.remaining(), 0U);

    // The viewer reads both back with the group key it unwrapped.
    Bytes message(decoded(data.value().ciphertext).size());
    ASSERT_TRUE(aesGcm::open(groupKey_, e2ee::dataNonce("client", 1),
                             bytesOf(e2ee::dataAssociatedData(kEpoch, "client", 1, "json")),
                             decoded(data.value().ciphertext), arrayOf<16>(decoded(data.value().tag)), message));
    EXPECT_EQ(std::string(message.begin(), message.end()), kClientMessage);

    const std::span<const std::uint8_t> frame(sealed);
    const auto header = VideoFrameHeader::read(frame);
    ASSERT_TRUE(header);
    ASSERT_EQ(header->bodyLength, frame.size() - VideoFrameHeader::size);
    const auto body = frame.subspan(VideoFrameHeader::size);
    std::int64_t counter = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        counter = counter << 8 | body[i];
    }
    EXPECT_EQ(counter, 2);
    const auto ciphertext = body.subspan(8, body.size() - 8 - 16);
    Bytes opened(ciphertext.size());
    ASSERT_TRUE(aesGcm::open(groupKey_, e2ee::dataNonce("client", counter),
                             bytesOf(e2ee::dataAssociatedData(kEpoch, "client", counter,
                                                              e2ee::videoDescriptor(*header))),
                             ciphertext, arrayOf<16>(Bytes(body.end() - 16, body.end())), opened));
    EXPECT_EQ(opened, kFrame);
}

TEST_F(E2eeExchangeVectorTest, DecryptsTheRecordedViewerMessageOnce)
{
    ASSERT_NO_FATAL_FAILURE(completeExchange());

    // The viewer's side seals to the same bytes the independent implementation recorded.
    const Bytes plaintext(kViewerMessage.begin(), kViewerMessage.end());
    Bytes ciphertext(plaintext.size());
    const auto tag = aesGcm::seal(groupKey_, e2ee::dataNonce(kViewerId, 1),
                                  bytesOf(e2ee::dataAssociatedData(kEpoch, kViewerId, 1, "json")), plaintext,
                                  ciphertext);
    EXPECT_EQ(base64Encode(ciphertext), kViewerMessageCiphertext);
    EXPECT_EQ(base64Encode(tag), kViewerMessageTag);

    ClientE2eePayload data;
    data.version = 1;
    data.epoch = std::string(kEpoch);
    data.senderId = std::string(kViewerId);
    data.counter = 1;
    data.ciphertext = std::string(kViewerMessageCiphertext);
    data.tag = std::string(kViewerMessageTag);
    const auto opened = session_.decrypt(data);
    ASSERT_TRUE(opened.ok());
    EXPECT_EQ(opened.value(), plaintext);

    const auto replayed = session_.decrypt(data);
    ASSERT_FALSE(replayed.ok());
    EXPECT_EQ(replayed.error(), ClientE2eeError::invalidPeer);
}

} // namespace
