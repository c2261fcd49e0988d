#include "relay/crypto/Hkdf.h"

#include <openssl/core_names.h>
#include <openssl/kdf.h>
#include <openssl/params.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace doorwarden {

Sha256Digest hkdfSha256(std::span<const std::uint8_t> salt, std::span<const std::uint8_t> inputKey,
                        std::span<const std::uint8_t> info)
{
    if (info.size() > kHkdfMaximumInfoBytes) {
        throw std::length_error("HKDF-SHA-256: info of " + std::to_string(info.size()) + " bytes");
    }
    const std::unique_ptr<EVP_KDF, decltype(&EVP_KDF_free)> kdf(EVP_KDF_fetch(nullptr, "HKDF", nullptr), EVP_KDF_free);
    const std::unique_ptr<EVP_KDF_CTX, decltype(&EVP_KDF_CTX_free)> context(kdf ? EVP_KDF_CTX_new(kdf.get()) : nullptr,
                                                                            EVP_KDF_CTX_free);
    // OpenSSL's parameters take non-const pointers but only read through them.
    auto octets = [](const char* name, std::span<const std::uint8_t> bytes) {
        return OSSL_PARAM_construct_octet_string(name, const_cast<std::uint8_t*>(bytes.data()), bytes.size());
    };
    char digest[] = "SHA256";
    std::vector<OSSL_PARAM> parameters = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
        octets(OSSL_KDF_PARAM_KEY, inputKey),
        octets(OSSL_KDF_PARAM_INFO, info),
    };
    // OpenSSL refuses an empty salt parameter; without one, HKDF uses the zero salt it stands for.
    if (!salt.empty()) {
        parameters.push_back(octets(OSSL_KDF_PARAM_SALT, salt));
    }
    parameters.push_back(OSSL_PARAM_construct_end());
    Sha256Digest out{};
    if (!context || EVP_KDF_derive(context.get(), out.data(), out.size(), parameters.data()) != 1) {
        throw std::runtime_error("HKDF-SHA-256 failed");
    }
    return out;
}

} // namespace doorwarden
