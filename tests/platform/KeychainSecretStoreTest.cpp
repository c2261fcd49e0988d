// Runs through with_secret_service.sh: a throw-away GNOME Keyring on a private session bus.

#include "platform/linux/KeychainSecretStore.h"

#include "core/ClientDiagnosticLog.h"
#include "platform/fake/FakeHostInfo.h"
#include "platform/fake/ManualClock.h"
#include "platform/linux/FileSecretStore.h"
#include "platform/linux/SecretStoreSelection.h"
#include "platform/ScopedEnvironment.h"
#include "support/EventLoopWait.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <signal.h>

using namespace doorwarden;
using namespace std::chrono_literals;
using ::testing::EndsWith;
using ::testing::HasSubstr;

namespace {

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

    pid_t daemon = 0;
    KeychainSecretStore store;
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
        ASSERT_TRUE(store.write("test.round-trip", name, data)) << name;
    }
    for (const auto& [name, data] : payloads) {
        EXPECT_EQ(store.read("test.round-trip", name), data) << name;
    }
}

TEST_F(KeychainSecretStoreTest, WritesReplaceAndRemovesDeleteOnlyTheirItem)
{
    const SecretStore::Bytes longer = {'l', 'o', 'n', 'g', 'e', 'r', 0};
    const SecretStore::Bytes shorter = {'s'};
    const SecretStore::Bytes other = {'o', 't', 'h', 'e', 'r'};

    EXPECT_EQ(store.read("test.items", "never-written"), std::nullopt);
    ASSERT_TRUE(store.write("test.items", "first", longer));
    ASSERT_TRUE(store.write("test.items", "second", other));
    ASSERT_TRUE(store.write("test.other-service", "first", other));

    // A rewrite replaces the whole item, leaving nothing of the longer one.
    ASSERT_TRUE(store.write("test.items", "first", shorter));
    EXPECT_EQ(store.read("test.items", "first"), shorter);

    store.remove("test.items", "first");
    EXPECT_EQ(store.read("test.items", "first"), std::nullopt);
    EXPECT_EQ(store.read("test.items", "second"), other);
    EXPECT_EQ(store.read("test.other-service", "first"), other);

    // Removing what is gone is no failure and leaves the store working.
    store.remove("test.items", "first");
    ASSERT_TRUE(store.write("test.items", "first", longer));
    EXPECT_EQ(store.read("test.items", "first"), longer);
}

TEST_F(KeychainSecretStoreTest, TheSecretServiceIsChosenUnlessTheFilesAreForced)
{
    EXPECT_TRUE(KeychainSecretStore::isAvailable());

    QTemporaryDir root;
    const QString folder = root.filePath(QStringLiteral("secrets"));
    ManualClock clock;
    FakeHostInfo host;
    ClientDiagnosticLog log(clock, host);
    ScopedEnvironment environment;

    environment.unset("DOORWARDEN_SECRET_STORE");
    EXPECT_NE(dynamic_cast<KeychainSecretStore*>(chooseSecretStore(folder, log).get()), nullptr);
    environment.set("DOORWARDEN_SECRET_STORE", "file");
    EXPECT_NE(dynamic_cast<FileSecretStore*>(chooseSecretStore(folder, log).get()), nullptr);

    const std::string snapshot = log.diagnosticSnapshot();
    EXPECT_THAT(snapshot, HasSubstr("|KEYCHAIN|secret_store=secret_service\n"));
    EXPECT_THAT(snapshot, EndsWith("|KEYCHAIN|secret_store=file folder=" + folder.toStdString() + " reason=forced"));
}

TEST_F(KeychainSecretStoreTest, ASilentSecretServiceTimesOutAndTheStoreRecovers)
{
    const SecretStore::Bytes data = {'l', 'a', 't', 'e'};
    KeychainSecretStore impatient(300ms);

    // A stopped daemon never answers (TearDown resumes it whatever the outcome).
    ASSERT_EQ(::kill(daemon, SIGSTOP), 0);

    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_FALSE(impatient.write("test.silent", "account", data));
    EXPECT_LT(elapsed.elapsed(), 5000);
    // The abandoned write still holds QtKeychain's queue: later calls fail at once, not after
    // another timeout each.
    elapsed.restart();
    EXPECT_EQ(impatient.read("test.silent", "account"), std::nullopt);
    EXPECT_FALSE(KeychainSecretStore::isAvailable(300ms));
    EXPECT_LT(elapsed.elapsed(), 300);

    ::kill(daemon, SIGCONT);
    // The late answer lands on the abandoned job (which must still exist) and frees the queue;
    // the write it carried went through.
    EXPECT_TRUE(spinUntil([&] { return store.read("test.silent", "account") == data; }));
    EXPECT_TRUE(KeychainSecretStore::isAvailable());
}

