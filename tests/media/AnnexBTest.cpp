#include "media/AnnexB.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace doorwarden;

namespace {

std::vector<std::uint8_t> bytes(std::initializer_list<int> values)
{
    std::vector<std::uint8_t> out;
    for (const int value : values) {
        out.push_back(static_cast<std::uint8_t>(value));
    }
    return out;
}

} // namespace

// What the encoder's packets may hold, and the access unit that goes out for them: every unit
// after a 4-byte start code, without the zeros that belonged to the next start code.
TEST(AnnexBTest, UnitsAreFoundInPlaceAndJoinedWithLongStartCodes)
{
    struct Case {
        const char* name;
        std::vector<std::uint8_t> stream;
        std::vector<std::vector<std::uint8_t>> units;
    };
    const Case cases[] = {
        {"long start codes", bytes({0, 0, 0, 1, 0x67, 1, 2, 0, 0, 0, 1, 0x68, 3}), {bytes({0x67, 1, 2}), bytes({0x68, 3})}},
        {"short start codes", bytes({0, 0, 1, 0x65, 9, 0, 0, 1, 0x41, 8}), {bytes({0x65, 9}), bytes({0x41, 8})}},
        {"bytes before the first start code", bytes({7, 7, 0, 0, 1, 0x06, 5}), {bytes({0x06, 5})}},
        {"trailing zeros inside the stream", bytes({0, 0, 1, 0x65, 4, 0, 0, 0, 0, 1, 0x41}), {bytes({0x65, 4}), bytes({0x41})}},
        {"no start code", bytes({1, 2, 3}), {}},
        {"empty", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<annexB::Nal> units = annexB::units(c.stream);
        ASSERT_EQ(units.size(), c.units.size());
        std::vector<std::uint8_t> joined;
        for (std::size_t i = 0; i < units.size(); ++i) {
            EXPECT_EQ(std::vector<std::uint8_t>(units[i].begin(), units[i].end()), c.units[i]) << i;
            EXPECT_GE(units[i].data(), c.stream.data()) << "a view into the stream, not a copy";
            EXPECT_LE(units[i].data() + units[i].size(), c.stream.data() + c.stream.size());
            joined.insert(joined.end(), {0, 0, 0, 1});
            joined.insert(joined.end(), c.units[i].begin(), c.units[i].end());
        }
        const QByteArray out = annexB::join(units);
        EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.end()), joined);
    }
    EXPECT_EQ(annexB::typeOf(annexB::Nal(bytes({0x67, 0}))), annexB::sequenceParameterSet);
    EXPECT_EQ(annexB::typeOf(annexB::Nal()), 0);
}
