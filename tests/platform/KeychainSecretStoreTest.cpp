// Runs through with_secret_service.sh: a throw-away GNOME Keyring on a private session bus.

#include "platform/linux/KeychainSecretStore.h"

#include "platform/ScopedEnvironment.h"
#include "platform/linux/QtScheduler.h"
#include "platform/linux/SelectedSecretStore.h"
#include "support/EventLoopWait.h"
#include "support/SecretStoreCalls.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <signal.h>

using namespace doorwarden;
using namespace std::chrono_literals;
using ::testing::ElementsAre;

namespace {

void spin(const std::function<bool()>& done)
{
    spinUntil(done, 20s);
}

// Only the private keyring of with_secret_service.sh may be written, never the user's own.
class KeychainSecretStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        bool known = false;
        daemon = qEnvironmentVariableIntValue("DOORWARDEN_TEST_SECRET_SERVICE_PID", &known);
        if (!known || daemon <= 0) {
            GTEST_SKIP() << "run through tests/platform/with_secret_service.sh";
        }
    }

    // A test may have stopped the daemon to make it silent.
    void TearDown() override
    {
        if (daemon > 0) {
            ::kill(daemon, SIGCONT);
        }
    }

    std::optional<bool> probe(KeychainSecretStore& on)
    {
        std::optional<bool> available;
        on.probe([&](bool answer) { available = answer; });
        spin([&] { return available.has_value(); });
        return available;
    }

    pid_t daemon = 0;
    QtScheduler scheduler;
    KeychainSecretStore store{scheduler};
    SecretStoreCalls calls{store, spin};
};

} // namespace

TEST_F(KeychainSecretStoreTest, ItemsRoundTripAsBinaryAndSeparately)
{
    SecretStore::Bytes large(4096);
    for (std::size_t i = 0; i < large.size(); ++i) {
        large[i] = static_cast<unsigned char>(i * 7);
    }
    const std::pair<const char*, SecretStore::Bytes> payloads[] = {
        {"zero byte and invalid UTF-8", {'{', 0, '}', 0xff, 0xc3, 0x28, 0x80, 0xfe}},
        {"empty", {}},
        {"JSON text", {'{', '"', 'a', '"', ':', '1', '}'}},
        {"every byte value, 4 KiB", large},
    };
    for (const auto& [name, data] : payloads) {
        ASSERT_EQ(calls.write("test.round-trip", name, data), true) << name;
    }
    for (const auto& [name, data] : payloads) {
        EXPECT_EQ(calls.read("test.round-trip", name), data) << name;
    }
}

TEST_F(KeychainSecretStoreTest, WritesReplaceAndRemovesDeleteOnlyTheirItem)
{
    const SecretStore::Bytes longer = {'l', 'o', 'n', 'g', 'e', 'r', 0};
    const SecretStore::Bytes shorter = {'s'};
    const SecretStore::Bytes other = {'o', 't', 'h', 'e', 'r'};

    EXPECT_EQ(calls.read("test.items", "never-written"), std::nullopt);
    ASSERT_EQ(calls.write("test.items", "first", longer), true);
    ASSERT_EQ(calls.write("test.items", "second", other), true);
    ASSERT_EQ(calls.write("test.other-service", "first", other), true);

    // A rewrite replaces the whole item, leaving nothing of the longer one.
    ASSERT_EQ(calls.write("test.items", "first", shorter), true);
    EXPECT_EQ(calls.read("test.items", "first"), shorter);

    EXPECT_TRUE(calls.remove("test.items", "first"));
    EXPECT_EQ(calls.read("test.items", "first"), std::nullopt);
    EXPECT_EQ(calls.read("test.items", "second"), other);
    EXPECT_EQ(calls.read("test.other-service", "first"), other);

    // Removing what is gone is no failure and leaves the store working.
    EXPECT_TRUE(calls.remove("test.items", "first"));
    ASSERT_EQ(calls.write("test.items", "first", longer), true);
    EXPECT_EQ(calls.read("test.items", "first"), longer);
}

TEST_F(KeychainSecretStoreTest, OperationsCompleteLaterInTheOrderAsked)
{
    std::vector<std::string> order;
    store.write("test.order", "account", {1}, [&](bool) { order.push_back("write"); });
    store.remove("test.order", "account", [&] { order.push_back("remove"); });
    std::optional<SecretStore::Bytes> read = SecretStore::Bytes{0xee};
    store.read("test.order", "account", [&](auto data) {
        read = data;
        order.push_back("read");
    });
    EXPECT_TRUE(order.empty()) << "nothing completes inside the calls";
    ASSERT_TRUE(spinUntil([&] { return order.size() == 3; }, 20s));
    EXPECT_THAT(order, ElementsAre("write", "remove", "read"));
    EXPECT_EQ(read, std::nullopt) << "the remove came after the write";
}

TEST_F(KeychainSecretStoreTest, ARemovalAskedForJustBeforeTheStoreGoesStillHappens)
{
    ASSERT_EQ(calls.write("test.last-words", "account", {1}), true);
    {
        KeychainSecretStore leaving(scheduler);
        leaving.remove("test.last-words", "account");
    }
    EXPECT_EQ(calls.read("test.last-words", "account"), std::nullopt);
}

TEST_F(KeychainSecretStoreTest, TheSecretServiceIsChosenUnlessTheFilesAreForced)
{
    EXPECT_EQ(probe(store), true);

    QTemporaryDir root;
    const QString folder = root.filePath(QStringLiteral("secrets"));
    ScopedEnvironment environment;
    std::vector<std::string> log;
    auto record = [&](const std::string& line) { log.push_back(line); };

    environment.unset("DOORWARDEN_SECRET_STORE");
    SelectedSecretStore selected(scheduler, folder, record);
    SecretStoreCalls selectedCalls(selected, spin);
    EXPECT_EQ(selectedCalls.write("test.selected", "account", {7}), true);
    EXPECT_EQ(selected.backend(), SelectedSecretStore::Backend::secretService);
    EXPECT_EQ(calls.read("test.selected", "account"), SecretStore::Bytes{7}) << "in the keyring";
    EXPECT_THAT(log, ElementsAre("secret_store=secret_service"));
}

TEST_F(KeychainSecretStoreTest, ASilentSecretServiceTimesOutAndTheStoreRecovers)
{
    const SecretStore::Bytes data = {'l', 'a', 't', 'e'};
    KeychainSecretStore impatient(scheduler, 300ms);
    SecretStoreCalls impatientCalls(impatient, spin);

    // A stopped daemon never answers (TearDown resumes it whatever the outcome).
    ASSERT_EQ(::kill(daemon, SIGSTOP), 0);

    QElapsedTimer elapsed;
    elapsed.start();
    bool timerRan = false;
    QTimer::singleShot(50ms, [&] { timerRan = true; });
    EXPECT_EQ(impatientCalls.write("test.silent", "account", data), false);
    EXPECT_LT(elapsed.elapsed(), 5000);
    EXPECT_TRUE(timerRan) << "the main thread went on while the secret service was silent";
    // The abandoned write still holds QtKeychain's queue: later calls fail at once, not after
    // another timeout each.
    elapsed.restart();
    EXPECT_EQ(impatientCalls.read("test.silent", "account"), std::nullopt);
    EXPECT_EQ(probe(impatient), false);
    EXPECT_LT(elapsed.elapsed(), 300);

    ::kill(daemon, SIGCONT);
    // The late answer lands on the abandoned job (which must still exist) and frees the queue;
    // the write it carried went through.
    EXPECT_TRUE(spinUntil([&] { return impatientCalls.read("test.silent", "account") == data; }));
    EXPECT_EQ(probe(impatient), true);
}
