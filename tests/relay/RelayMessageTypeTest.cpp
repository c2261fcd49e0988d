#include "relay/RelayMessageType.h"

#include <gtest/gtest.h>

#include <set>

using namespace doorwarden;

TEST(RelayMessageTypeTest, EveryTypeHasOneDistinctWireNameThatLeadsBackToIt)
{
    std::set<std::string_view> names;
    int directOnly = 0;
    for (int i = 0; i <= static_cast<int>(RelayMessageType::p2pStandardVideoFallback); ++i) {
        const auto type = static_cast<RelayMessageType>(i);
        const auto name = wireName(type);
        EXPECT_TRUE(names.insert(name).second) << name;
        EXPECT_EQ(relayMessageTypeNamed(name), type) << name;
        EXPECT_EQ(name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_"), std::string_view::npos) << name;
        EXPECT_EQ(isDirectOnly(type), name.starts_with("__")) << name;
        directOnly += isDirectOnly(type) ? 1 : 0;
    }
    EXPECT_EQ(names.size(), 55u);
    EXPECT_EQ(directOnly, 3);
}

TEST(RelayMessageTypeTest, SpotChecksAndUnknownNames)
{
    EXPECT_EQ(wireName(RelayMessageType::sessionCreated), "session_created");
    EXPECT_EQ(wireName(RelayMessageType::fileTransferChunk), "file_transfer_chunk");
    EXPECT_EQ(wireName(RelayMessageType::p2pControlAck), "__p2p_control_ack");
    EXPECT_EQ(relayMessageTypeNamed("session_chat"), std::nullopt);
    EXPECT_EQ(relayMessageTypeNamed("Session_Created"), std::nullopt);
    EXPECT_EQ(relayMessageTypeNamed(""), std::nullopt);
}
