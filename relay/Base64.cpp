#include "relay/Base64.h"

#include <openssl/evp.h>

#include <algorithm>

namespace doorwarden {

namespace {

// OpenSSL takes int lengths: work in pieces well below that, whole groups at a time.
constexpr std::size_t kPlainPiece = 3 * (1 << 20);
constexpr std::size_t kTextPiece = kPlainPiece / 3 * 4;

bool isAlphabet(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

} // namespace

std::string base64Encode(std::span<const std::uint8_t> bytes)
{
    std::string text((bytes.size() + 2) / 3 * 4, '\0');
    auto* out = reinterpret_cast<unsigned char*>(text.data());
    for (std::size_t done = 0; done < bytes.size(); done += kPlainPiece) {
        const auto piece = std::min(kPlainPiece, bytes.size() - done);
        out += EVP_EncodeBlock(out, bytes.data() + done, static_cast<int>(piece));
    }
    return text;
}

std::string base64Encode(std::string_view bytes)
{
    return base64Encode(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text)
{
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=') {
        padding = text[text.size() - 2] == '=' ? 2 : 1;
    }
    const auto body = text.substr(0, text.size() - padding);
    if (!std::all_of(body.begin(), body.end(), [](char c) { return isAlphabet(static_cast<unsigned char>(c)); })) {
        return std::nullopt;
    }

    std::vector<std::uint8_t> bytes(text.size() / 4 * 3);
    auto* out = bytes.data();
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t done = 0; done < text.size(); done += kTextPiece) {
        const auto piece = std::min(kTextPiece, text.size() - done);
        // Validated above, so only a fault of OpenSSL's own could fail here.
        const int written = EVP_DecodeBlock(out, in + done, static_cast<int>(piece));
        if (written < 0) {
            return std::nullopt;
        }
        out += written;
    }
    bytes.resize(bytes.size() - padding);
    return bytes;
}

} // namespace doorwarden
