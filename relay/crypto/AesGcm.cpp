#include "relay/crypto/AesGcm.h"

#include <openssl/evp.h>

#include <climits>
#include <memory>
#include <stdexcept>

namespace doorwarden::aesGcm {

namespace {

using Context = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

Context newContext()
{
    Context context(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    if (!context) {
        throw std::runtime_error("AES-GCM context unavailable");
    }
    return context;
}

void requireFits(std::size_t size)
{
    if (size > INT_MAX) {
        throw std::length_error("AES-GCM input too large");
    }
}

} // namespace

Tag seal(const Key& key, const Nonce& nonce, std::span<const std::uint8_t> associatedData,
         std::span<const std::uint8_t> plaintext, std::span<std::uint8_t> ciphertext)
{
    requireFits(plaintext.size());
    requireFits(associatedData.size());
    if (ciphertext.size() != plaintext.size()) {
        throw std::invalid_argument("AES-GCM output size differs from the input");
    }
    const Context context = newContext();
    int length = 0;
    Tag tag{};
    if (EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, key.data(), nonce.data()) != 1 ||
        EVP_EncryptUpdate(context.get(), nullptr, &length, associatedData.data(),
                          static_cast<int>(associatedData.size())) != 1 ||
        EVP_EncryptUpdate(context.get(), ciphertext.data(), &length, plaintext.data(),
                          static_cast<int>(plaintext.size())) != 1 ||
        EVP_EncryptFinal_ex(context.get(), ciphertext.data() + length, &length) != 1 ||
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(tag.size()), tag.data()) != 1) {
        throw std::runtime_error("AES-GCM seal failed");
    }
    return tag;
}

bool open(const Key& key, const Nonce& nonce, std::span<const std::uint8_t> associatedData,
          std::span<const std::uint8_t> ciphertext, const Tag& tag, std::span<std::uint8_t> plaintext)
{
    if (ciphertext.size() > INT_MAX || associatedData.size() > INT_MAX || plaintext.size() != ciphertext.size()) {
        return false;
    }
    const Context context = newContext();
    int length = 0;
    Tag expected = tag; // OpenSSL takes the tag through a non-const pointer
    return EVP_DecryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, key.data(), nonce.data()) == 1 &&
           EVP_DecryptUpdate(context.get(), nullptr, &length, associatedData.data(),
                             static_cast<int>(associatedData.size())) == 1 &&
           EVP_DecryptUpdate(context.get(), plaintext.data(), &length, ciphertext.data(),
                             static_cast<int>(ciphertext.size())) == 1 &&
           EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(expected.size()),
                               expected.data()) == 1 &&
           EVP_DecryptFinal_ex(context.get(), plaintext.data() + length, &length) == 1;
}

} // namespace doorwarden::aesGcm
