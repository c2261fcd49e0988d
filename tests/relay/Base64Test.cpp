#include "relay/Base64.h"

#include <gtest/gtest.h>

#include <random>

using namespace doorwarden;

namespace {

std::vector<std::uint8_t> bytesOf(std::string_view text)
{
    return {text.begin(), text.end()};
}

} // namespace

TEST(Base64Test, MatchesTheStandardVectorsBothWays)
{
    const std::pair<std::string_view, std::string_view> vectors[] = {
        {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"\xff\xfe\xfd", "//79"},
        {"\xfb\xef", "++8="},
    };
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(base64Encode(plain), encoded);
        EXPECT_EQ(base64Decode(encoded), bytesOf(plain)) << encoded;
    }
}

TEST(Base64Test, RefusesAnythingButWholeStandardBase64)
{
    const char* const invalid[] = {
        "Zg",       // not a multiple of four
        "Zg=",      // short padding
        "Z===",     // three padding characters
        "====",     // padding only
        "Zm=v",     // padding inside
        "Zg==Zg==", // padding before the end
        "Zm9v\n",   // line break
        " Zm9v",    // leading space
        "Zm9*",     // outside the alphabet
        "Zm9-",     // URL-safe alphabet
        "Zm9_",
        "Zm9\xc3",  // non-ASCII byte
    };
    for (const char* text : invalid) {
        EXPECT_EQ(base64Decode(text), std::nullopt) << text;
    }
    EXPECT_EQ(base64Decode(std::string_view("Zm9v\0\0\0\0", 8)), std::nullopt);
}

TEST(Base64Test, LargeBuffersRoundTripAcrossPieceBoundaries)
{
    std::mt19937 random(7);
    std::vector<std::uint8_t> bytes(3 * 1024 * 1024 * 2 + 7); // spans several internal pieces
    for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(random());
    }
    const std::string text = base64Encode(bytes);
    ASSERT_EQ(text.size(), (bytes.size() + 2) / 3 * 4);
    EXPECT_EQ(text.find_first_of("\n\r"), std::string::npos);
    EXPECT_TRUE(text.ends_with("="));
    EXPECT_EQ(base64Decode(text), bytes);
}
