#include "relay/crypto/P256KeyPair.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/x509.h>

#include <algorithm>
#include <stdexcept>

namespace doorwarden {

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using KeyContext = std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)>;

// RFC 5915 ECPrivateKey holding only the scalar and the curve: OpenSSL computes the public
// point when it reads one.
constexpr std::array<std::uint8_t, 7> kPrivateKeyPrefix = {0x30, 0x31, 0x02, 0x01, 0x01, 0x04, 0x20};
constexpr std::array<std::uint8_t, 12> kPrivateKeySuffix = {0xa0, 0x0a, 0x06, 0x08, 0x2a, 0x86,
                                                            0x48, 0xce, 0x3d, 0x03, 0x01, 0x07};

Key peerKey(std::span<const std::uint8_t> point)
{
    Key none(nullptr, EVP_PKEY_free);
    if (point.size() != 65 || point[0] != 0x04) {
        return none;
    }
    char group[] = "prime256v1";
    const OSSL_PARAM parameters[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
        OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, const_cast<std::uint8_t*>(point.data()),
                                          point.size()),
        OSSL_PARAM_construct_end(),
    };
    KeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr), EVP_PKEY_CTX_free);
    EVP_PKEY* key = nullptr;
    if (!context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
        EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, const_cast<OSSL_PARAM*>(parameters)) != 1) {
        return none;
    }
    Key result(key, EVP_PKEY_free);
    // Reading the point already checks it; the explicit check keeps that from resting on it.
    KeyContext check(EVP_PKEY_CTX_new_from_pkey(nullptr, result.get(), nullptr), EVP_PKEY_CTX_free);
    if (!check || EVP_PKEY_public_check(check.get()) != 1) {
        return none;
    }
    return result;
}

} // namespace

void P256KeyPair::KeyDeleter::operator()(evp_pkey_st* key) const
{
    EVP_PKEY_free(key);
}

P256KeyPair::P256KeyPair(std::unique_ptr<evp_pkey_st, KeyDeleter> key, const PublicPoint& point)
    : key_(std::move(key))
    , publicPoint_(point)
{
}

P256KeyPair P256KeyPair::generate(RandomSource& random)
{
    std::array<std::uint8_t, 32> scalar{};
    for (;;) { // a scalar outside [1, n-1] turns up about once in 2^32 draws
        random.fill(scalar);
        if (auto pair = fromPrivateScalar(scalar)) {
            std::fill(scalar.begin(), scalar.end(), std::uint8_t{0});
            return std::move(*pair);
        }
    }
}

std::optional<P256KeyPair> P256KeyPair::fromPrivateScalar(std::span<const std::uint8_t, 32> scalar)
{
    std::array<std::uint8_t, kPrivateKeyPrefix.size() + 32 + kPrivateKeySuffix.size()> der{};
    auto out = std::copy(kPrivateKeyPrefix.begin(), kPrivateKeyPrefix.end(), der.begin());
    out = std::copy(scalar.begin(), scalar.end(), out);
    std::copy(kPrivateKeySuffix.begin(), kPrivateKeySuffix.end(), out);

    const unsigned char* cursor = der.data();
    std::unique_ptr<evp_pkey_st, KeyDeleter> key(
        d2i_PrivateKey(EVP_PKEY_EC, nullptr, &cursor, static_cast<long>(der.size())));
    std::fill(der.begin(), der.end(), std::uint8_t{0});
    if (!key) {
        return std::nullopt;
    }
    KeyContext check(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr), EVP_PKEY_CTX_free);
    PublicPoint point{};
    std::size_t length = 0;
    if (!check || EVP_PKEY_private_check(check.get()) != 1 ||
        EVP_PKEY_get_octet_string_param(key.get(), OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, point.data(), point.size(),
                                        &length) != 1 ||
        length != point.size()) {
        return std::nullopt;
    }
    return P256KeyPair(std::move(key), point);
}

P256KeyPair::SubjectPublicKeyInfo P256KeyPair::subjectPublicKeyInfo() const
{
    SubjectPublicKeyInfo spki{};
    unsigned char* out = spki.data();
    if (i2d_PUBKEY(key_.get(), nullptr) != static_cast<int>(spki.size()) || i2d_PUBKEY(key_.get(), &out) <= 0) {
        throw std::runtime_error("P-256 public key encoding failed");
    }
    return spki;
}

std::optional<P256KeyPair::SharedSecret> P256KeyPair::agree(std::span<const std::uint8_t> peerPoint) const
{
    const Key peer = peerKey(peerPoint);
    if (!peer) {
        return std::nullopt;
    }
    KeyContext context(EVP_PKEY_CTX_new_from_pkey(nullptr, key_.get(), nullptr), EVP_PKEY_CTX_free);
    SharedSecret secret{};
    std::size_t length = secret.size();
    if (!context || EVP_PKEY_derive_init(context.get()) != 1 ||
        EVP_PKEY_derive_set_peer_ex(context.get(), peer.get(), /*validate_peer=*/1) != 1 ||
        EVP_PKEY_derive(context.get(), secret.data(), &length) != 1 || length != secret.size()) {
        return std::nullopt;
    }
    return secret;
}

} // namespace doorwarden
