#include "platform/linux/FileSecretStore.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

using namespace doorwarden;

TEST(FileSecretStoreTest, ItemsRoundTripPrivatelyAndSeparately)
{
    QTemporaryDir root;
    const QString folder = root.filePath(QStringLiteral("secrets"));
    FileSecretStore store(folder);
    const SecretStore::Bytes session = {'{', '}', 0, 0xff};
    const SecretStore::Bytes reports = {'[', ']'};

    EXPECT_FALSE(store.read("service.a", "account"));
    ASSERT_TRUE(store.write("service.a", "account", session));
    ASSERT_TRUE(store.write("service.b", "account", reports));
    EXPECT_EQ(store.read("service.a", "account"), session);
    EXPECT_EQ(store.read("service.b", "account"), reports);

    // Only the user may read the folder and the files.
    EXPECT_EQ(QFileInfo(folder).permissions() & 0x0077, 0);
    const QFileInfo file(store.pathOf("service.a", "account"));
    EXPECT_EQ(file.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther | QFileDevice::WriteGroup |
                                    QFileDevice::WriteOther),
              QFileDevice::Permissions());

    // A rewrite replaces the whole item and leaves no temporary file behind.
    ASSERT_TRUE(store.write("service.a", "account", reports));
    EXPECT_EQ(store.read("service.a", "account"), reports);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 2);

    store.remove("service.a", "account");
    EXPECT_FALSE(store.read("service.a", "account"));
    EXPECT_EQ(store.read("service.b", "account"), reports);
}

TEST(FileSecretStoreTest, UnwritableFolderFailsTheWrite)
{
    FileSecretStore store(QStringLiteral("/proc/doorwarden-no-such-folder"));
    EXPECT_FALSE(store.write("service", "account", {'x'}));
}
