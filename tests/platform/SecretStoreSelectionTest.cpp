#include "platform/linux/SecretStoreSelection.h"

#include "core/ClientDiagnosticLog.h"
#include "platform/fake/FakeHostInfo.h"
#include "platform/fake/ManualClock.h"
#include "platform/linux/FileSecretStore.h"
#include "platform/linux/KeychainSecretStore.h"
#include "platform/ScopedEnvironment.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTemporaryDir>

using namespace doorwarden;

namespace {

// Every way the process could find a session bus: the address, the systemd user bus under the
// runtime folder, and X11 autolaunch (which would also start a bus of its own).
void withoutSessionBus(ScopedEnvironment& environment)
{
    for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR", "DISPLAY", "DOORWARDEN_SECRET_STORE"}) {
        environment.unset(name);
    }
}

} // namespace

TEST(SecretStoreSelectionTest, WithoutSessionBusTheFilesAreChosenPromptlyAndLogged)
{
    ScopedEnvironment environment;
    withoutSessionBus(environment);
    QTemporaryDir root;
    const QString folder = root.filePath(QStringLiteral("secrets"));
    ManualClock clock;
    FakeHostInfo host;
    ClientDiagnosticLog log(clock, host);

    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_FALSE(KeychainSecretStore::isAvailable());
    const auto store = chooseSecretStore(folder, log);
    // Both answered from the missing bus, not from the timeout that guards a silent service.
    EXPECT_LT(elapsed.elapsed(), KeychainSecretStore::defaultTimeout.count() / 2);

    const auto* files = dynamic_cast<FileSecretStore*>(store.get());
    ASSERT_NE(files, nullptr);
    ASSERT_TRUE(store->write("service", "account", {0, 0xff}));
    EXPECT_TRUE(files->pathOf("service", "account").startsWith(folder + QLatin1Char('/')));

    const std::string snapshot = log.diagnosticSnapshot();
    EXPECT_THAT(snapshot,
                ::testing::EndsWith("|KEYCHAIN|secret_store=file folder=" + folder.toStdString() + " reason=no_secret_service"));
    EXPECT_EQ(snapshot.find("|KEYCHAIN|"), snapshot.rfind("|KEYCHAIN|")) << "logged once";
}
