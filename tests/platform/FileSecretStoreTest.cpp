#include "platform/linux/FileSecretStore.h"

#include "platform/fake/ManualClock.h"
#include "platform/fake/ManualScheduler.h"
#include "support/SecretStoreCalls.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

using namespace doorwarden;
using ::testing::HasSubstr;

namespace {

class FileSecretStoreTest : public ::testing::Test {
protected:
    FileSecretStoreTest()
        : folder(root.filePath(QStringLiteral("secrets")))
        , store(scheduler, folder, [this](const std::string& message) { warnings.push_back(message); })
        , calls(store, [this](const std::function<bool()>&) { scheduler.runUntilIdle(); })
    {
    }

    void chmod(const QString& path, mode_t mode) { ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0); }

    QTemporaryDir root;
    QString folder;
    ManualClock clock;
    ManualScheduler scheduler{clock};
    std::vector<std::string> warnings;
    FileSecretStore store;
    SecretStoreCalls calls;
};

} // namespace

TEST_F(FileSecretStoreTest, ItemsRoundTripPrivatelyAndSeparately)
{
    const SecretStore::Bytes session = {'{', '}', 0, 0xff};
    const SecretStore::Bytes reports = {'[', ']'};

    EXPECT_FALSE(calls.read("service.a", "account"));
    ASSERT_EQ(calls.write("service.a", "account", session), true);
    ASSERT_EQ(calls.write("service.b", "account", reports), true);
    EXPECT_EQ(calls.read("service.a", "account"), session);
    EXPECT_EQ(calls.read("service.b", "account"), reports);

    // Only the user may read the folder and the files.
    EXPECT_EQ(QFileInfo(folder).permissions() & 0x0077, 0);
    const QFileInfo file(store.pathOf("service.a", "account"));
    EXPECT_EQ(file.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther | QFileDevice::WriteGroup |
                                    QFileDevice::WriteOther),
              QFileDevice::Permissions());

    // A rewrite replaces the whole item and leaves no temporary file behind.
    ASSERT_EQ(calls.write("service.a", "account", reports), true);
    EXPECT_EQ(calls.read("service.a", "account"), reports);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 2);

    EXPECT_TRUE(calls.remove("service.a", "account"));
    EXPECT_FALSE(calls.read("service.a", "account"));
    EXPECT_EQ(calls.read("service.b", "account"), reports);
    EXPECT_TRUE(warnings.empty());
}

TEST_F(FileSecretStoreTest, CompletionsRunLaterAndNotAfterTheStoreIsGone)
{
    bool completed = false;
    store.write("service", "account", {'x'}, [&](bool) { completed = true; });
    EXPECT_FALSE(completed) << "never inside the call";
    EXPECT_TRUE(store.readNow("service", "account")) << "the file work itself is done at once";
    scheduler.runUntilIdle();
    EXPECT_TRUE(completed);

    bool late = false;
    {
        FileSecretStore shortLived(scheduler, folder);
        shortLived.read("service", "account", [&](auto) { late = true; });
    }
    scheduler.runUntilIdle();
    EXPECT_FALSE(late);
}

TEST_F(FileSecretStoreTest, ItemsOthersCouldReadOrWriteAreRefused)
{
    ASSERT_EQ(calls.write("service", "account", {'s', 'e', 'c', 'r', 'e', 't'}), true);
    const QString item = store.pathOf("service", "account");
    struct Case {
        const char* name;
        QString path;
        mode_t mode;
        const char* reason;
    };
    const Case cases[] = {
        {"item readable by the group", item, 0640, "reason=readable_or_writable_by_others"},
        {"item readable by anyone", item, 0604, "reason=readable_or_writable_by_others"},
        {"item writable by anyone", item, 0602, "reason=readable_or_writable_by_others"},
        {"folder writable by the group", folder, 0770, "reason=folder_writable_by_others"},
        {"folder writable by anyone", folder, 0703, "reason=folder_writable_by_others"},
    };
    for (const Case& refused : cases) {
        warnings.clear();
        chmod(refused.path, refused.mode);
        EXPECT_FALSE(calls.read("service", "account")) << refused.name;
        ASSERT_EQ(warnings.size(), 1u) << refused.name;
        EXPECT_THAT(warnings[0], HasSubstr(refused.reason)) << refused.name;
        chmod(item, 0600);
        chmod(folder, 0700);
        EXPECT_TRUE(calls.read("service", "account")) << refused.name << ": private again";
    }
}

TEST_F(FileSecretStoreTest, AnItemOfAnotherUserIsRefused)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "giving a file to another user needs root";
    }
    ASSERT_EQ(calls.write("service", "account", {'x'}), true);
    const QByteArray item = QFile::encodeName(store.pathOf("service", "account"));
    ASSERT_EQ(::chown(item.constData(), 65534, 65534), 0);
    EXPECT_FALSE(calls.read("service", "account"));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_THAT(warnings[0], HasSubstr("reason=owned_by_another_user"));

    ASSERT_EQ(::chown(QFile::encodeName(folder).constData(), 65534, 65534), 0);
    warnings.clear();
    EXPECT_FALSE(calls.read("service", "account"));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_THAT(warnings[0], HasSubstr("reason=folder_owned_by_another_user"));
}

TEST_F(FileSecretStoreTest, ALinkPlantedInPlaceOfAnItemIsRefused)
{
    ASSERT_EQ(calls.write("service", "other", {'x'}), true);
    const QString elsewhere = root.filePath(QStringLiteral("elsewhere"));
    QFile planted(elsewhere);
    ASSERT_TRUE(planted.open(QIODevice::WriteOnly));
    planted.write("{}");
    planted.close();
    chmod(elsewhere, 0600);
    ASSERT_TRUE(QFile::link(elsewhere, store.pathOf("service", "account")));

    EXPECT_FALSE(calls.read("service", "account"));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_THAT(warnings[0], HasSubstr("reason=symbolic_link"));
}

TEST_F(FileSecretStoreTest, UnwritableFolderFailsTheWrite)
{
    FileSecretStore unwritable(scheduler, QStringLiteral("/proc/doorwarden-no-such-folder"));
    SecretStoreCalls unwritableCalls(unwritable, [this](const std::function<bool()>&) { scheduler.runUntilIdle(); });
    EXPECT_EQ(unwritableCalls.write("service", "account", {'x'}), false);
}
