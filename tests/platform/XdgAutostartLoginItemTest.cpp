#include "platform/linux/XdgAutostartLoginItem.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

using namespace doorwarden;

TEST(XdgAutostartLoginItemTest, RegistersAnEntryThatRunsTheProgramAndRemovesIt)
{
    QTemporaryDir root;
    const QString folder = root.filePath(QStringLiteral("autostart"));
    XdgAutostartLoginItem item(folder, QStringLiteral("/opt/door warden/doorwarden"),
                               {QStringLiteral("--state-dir"), QStringLiteral("/home/kim/100% \"state\"")});
    EXPECT_FALSE(item.isRegistered());
    ASSERT_TRUE(item.registerItem());
    EXPECT_TRUE(item.isRegistered());

    QFile file(item.entryPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(text.startsWith(QStringLiteral("[Desktop Entry]\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\nType=Application\n")));
    // Quoted arguments; '"' escaped (and the escape doubled by the file format); '%' doubled.
    EXPECT_TRUE(text.contains(QStringLiteral(
        R"(Exec="/opt/door warden/doorwarden" "--state-dir" "/home/kim/100%% \\"state\\"")")))
        << text.toStdString();

    item.unregisterItem();
    EXPECT_FALSE(item.isRegistered());
    EXPECT_FALSE(QFile::exists(item.entryPath()));
}

TEST(XdgAutostartLoginItemTest, UnwritableFolderReportsFailure)
{
    XdgAutostartLoginItem item(QStringLiteral("/proc/doorwarden-autostart"), QStringLiteral("/usr/bin/doorwarden"));
    EXPECT_FALSE(item.registerItem());
    EXPECT_FALSE(item.isRegistered());
}

TEST(XdgAutostartLoginItemTest, ArgumentsWithControlCharactersAreNeverWritten)
{
    QTemporaryDir root;
    // A line break would start a second key (a second Exec= line) in the entry file.
    for (const QString& argument : {QStringLiteral("/tmp/state\nExec=/tmp/evil"), QStringLiteral("/tmp/a\rb"),
                                    QStringLiteral("/tmp/tab\there"), QStringLiteral("/tmp/del\x7f")}) {
        const QString folder = root.filePath(QStringLiteral("autostart"));
        XdgAutostartLoginItem item(folder, QStringLiteral("/usr/bin/doorwarden"), {QStringLiteral("--state-dir"), argument});
        EXPECT_FALSE(item.registerItem()) << argument.toStdString();
        EXPECT_FALSE(QFile::exists(item.entryPath())) << argument.toStdString();
    }
    XdgAutostartLoginItem badProgram(root.filePath(QStringLiteral("autostart")), QStringLiteral("/usr/bin/door\nwarden"));
    EXPECT_FALSE(badProgram.registerItem());
}
