#include "platform/linux/SelectedSecretStore.h"

#include "platform/ScopedEnvironment.h"
#include "platform/linux/QtScheduler.h"
#include "support/EventLoopWait.h"
#include "support/SecretStoreCalls.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTemporaryDir>

using namespace doorwarden;
using ::testing::ElementsAre;

namespace {

// Every way the process could find a session bus: the address, the systemd user bus under the
// runtime folder, and X11 autolaunch (which would also start a bus of its own).
void withoutSessionBus(ScopedEnvironment& environment)
{
    for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR", "DISPLAY", "DOORWARDEN_SECRET_STORE"}) {
        environment.unset(name);
    }
}

void spin(const std::function<bool()>& done)
{
    spinUntil(done);
}

} // namespace

TEST(SelectedSecretStoreTest, WithoutSessionBusTheFilesAreChosenPromptlyAndWaitingCallsGoThereInOrder)
{
    ScopedEnvironment environment;
    withoutSessionBus(environment);
    QTemporaryDir root;
    const QString folder = root.filePath(QStringLiteral("secrets"));
    QtScheduler scheduler;
    std::vector<std::string> log;

    QElapsedTimer elapsed;
    elapsed.start();
    SelectedSecretStore store(scheduler, folder, [&](const std::string& line) { log.push_back(line); });
    EXPECT_EQ(store.backend(), SelectedSecretStore::Backend::undecided) << "the secret service is asked in the background";

    // Asked before the choice: they wait, then run in the order asked.
    std::vector<std::string> order;
    store.write("service", "account", {1}, [&](bool stored) { order.push_back(stored ? "write 1" : "write failed"); });
    store.write("service", "account", {2}, [&](bool) { order.push_back("write 2"); });
    std::optional<SecretStore::Bytes> read;
    store.read("service", "account", [&](auto data) {
        read = data;
        order.push_back("read");
    });
    ASSERT_TRUE(spinUntil([&] { return order.size() == 3; }));
    // Answered from the missing bus, not from the timeout that guards a silent service.
    EXPECT_LT(elapsed.elapsed(), KeychainSecretStore::defaultTimeout.count() / 2);

    EXPECT_EQ(store.backend(), SelectedSecretStore::Backend::files);
    EXPECT_THAT(order, ElementsAre("write 1", "write 2", "read"));
    EXPECT_EQ(read, SecretStore::Bytes{2});
    EXPECT_THAT(log, ElementsAre("secret_store=file folder=" + folder.toStdString() + " reason=no_secret_service"));

    SecretStoreCalls calls(store, spin);
    EXPECT_TRUE(calls.remove("service", "account"));
    EXPECT_FALSE(calls.read("service", "account"));
}

TEST(SelectedSecretStoreTest, TheFilesCanBeForced)
{
    ScopedEnvironment environment;
    environment.set("DOORWARDEN_SECRET_STORE", "file");
    QTemporaryDir root;
    const QString folder = root.filePath(QStringLiteral("secrets"));
    QtScheduler scheduler;
    std::vector<std::string> log;
    SelectedSecretStore store(scheduler, folder, [&](const std::string& line) { log.push_back(line); });
    EXPECT_EQ(store.backend(), SelectedSecretStore::Backend::files);
    EXPECT_THAT(log, ElementsAre("secret_store=file folder=" + folder.toStdString() + " reason=forced"));
}
