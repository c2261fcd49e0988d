#include "core/ClientPersistentSession.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/ManualScheduler.h"
#include "platform/fake/MemorySecretStore.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <regex>
#include <stdexcept>

using namespace doorwarden;
using namespace std::chrono_literals;

namespace {

SecretStore::Bytes bytesOf(const std::string& text)
{
    return {text.begin(), text.end()};
}

// The stored form, written by hand: `updatedAt` in seconds since 2001-01-01T00:00:00Z.
std::string record(const std::string& code, const std::string& token, double updatedAt)
{
    return nlohmann::json{{"sessionCode", code}, {"resumeToken", token}, {"updatedAt", updatedAt}}.dump();
}

class ClientPersistentSessionTest : public ::testing::Test {
protected:
    using Key = MemorySecretStore::Key;

    void store(const std::string& data)
    {
        secrets.items[Key{ClientPersistentSession::service, ClientPersistentSession::account}] = bytesOf(data);
    }
    bool stored() const
    {
        return secrets.items.contains(Key{ClientPersistentSession::service, ClientPersistentSession::account});
    }
    // The record as the store's answer gives it.
    std::optional<ClientPersistentSession> load()
    {
        std::optional<ClientPersistentSession> loaded;
        bool answered = false;
        ClientPersistentSession::load(secrets, clock, [&](auto record) {
            loaded = std::move(record);
            answered = true;
        });
        EXPECT_FALSE(answered) << "never inside the call";
        scheduler.runUntilIdle();
        EXPECT_TRUE(answered);
        return loaded;
    }
    std::optional<bool> save(const std::string& code, const std::string& token)
    {
        std::optional<bool> saved;
        ClientPersistentSession::save(secrets, clock, code, token, [&](bool stored) { saved = stored; });
        scheduler.runUntilIdle();
        return saved;
    }

    ManualClock clock; // 2026-01-31T09:15:02Z
    const double now = 1'769'850'902.0 - 978'307'200.0;
    ManualScheduler scheduler{clock};
    MemorySecretStore secrets{scheduler};
};

} // namespace

TEST_F(ClientPersistentSessionTest, SavedRecordLoadsBackInTheStoredForm)
{
    ASSERT_EQ(save("482913", "token-1"), true);
    const auto data = secrets.items.find(Key{ClientPersistentSession::service, ClientPersistentSession::account});
    ASSERT_NE(data, secrets.items.end());
    const auto json = nlohmann::json::parse(data->second.begin(), data->second.end());
    EXPECT_EQ(json.at("sessionCode"), "482913");
    EXPECT_EQ(json.at("resumeToken"), "token-1");
    EXPECT_DOUBLE_EQ(json.at("updatedAt").get<double>(), now);

    clock.advance(30min);
    const auto loaded = load();
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->sessionCode, "482913");
    EXPECT_EQ(loaded->resumeToken, "token-1");
    EXPECT_EQ(loaded->updatedAt, clock.wallNow() - 30min);
}

TEST_F(ClientPersistentSessionTest, OnlyAFreshWellFormedRecordSurvivesLoading)
{
    struct Case {
        const char* name;
        std::string data;
        bool valid;
    };
    const Case cases[] = {
        {"fresh", record("482913", "t", now), true},
        {"an hour old", record("482913", "t", now - 3600), true},
        {"3601 seconds old", record("482913", "t", now - 3601), false},
        {"300 seconds ahead", record("482913", "t", now + 300), true},
        {"301 seconds ahead", record("482913", "t", now + 301), false},
        {"five digits and a letter", record("48291a", "t", now), false},
        {"five digits", record("48291", "t", now), false},
        {"grouped code", record("482 913", "t", now), false},
        {"empty token", record("482913", "", now), false},
        {"time stamp as text", R"({"sessionCode":"482913","resumeToken":"t","updatedAt":"now"})", false},
        {"time stamp out of range", record("482913", "t", 1e300), false},
        {"missing token", R"({"sessionCode":"482913","updatedAt":0})", false},
        {"not JSON", "\x01\x02garbage", false},
        {"an array", "[]", false},
    };
    for (const auto& c : cases) {
        store(c.data);
        const auto loaded = load();
        EXPECT_EQ(loaded.has_value(), c.valid) << c.name;
        EXPECT_EQ(stored(), c.valid) << c.name << ": an invalid record is deleted";
    }
    EXPECT_FALSE(load()) << "nothing stored";
}

TEST_F(ClientPersistentSessionTest, FailedSaveReportsFalse)
{
    secrets.failWrites = true;
    EXPECT_EQ(save("482913", "t"), false);
    EXPECT_FALSE(stored());
}

TEST(ClientPersistentSessionTokenTest, TokensAreSixtyFourLowerCaseHexDigitsOrAUuidWhenRandomFails)
{
    const std::regex hex64("[0-9a-f]{64}");
    const auto first = ClientPersistentSession::makeResumeToken();
    EXPECT_TRUE(std::regex_match(first, hex64)) << first;
    EXPECT_NE(first, ClientPersistentSession::makeResumeToken());

    class FailingRandom final : public RandomSource {
    public:
        void fill(std::span<std::uint8_t>) override { throw std::runtime_error("no entropy"); }
    } failing;
    const auto fallback = ClientPersistentSession::makeResumeToken(failing);
    EXPECT_TRUE(std::regex_match(fallback, std::regex("[0-9a-f]{32}"))) << fallback;
}
