// SPDX-License-Identifier: GPL-3.0-or-later
// The options in a real VARN.conf in a temporary XDG_CONFIG_HOME.
#include "../support/helpers.h"
#include "platform/qt_settings_store.h"
#include "settings/options.h"

#include <QFile>

#include <gtest/gtest.h>


using namespace torvak;
using namespace torvak::test;

TEST(SettingsFile, EachOptionRoundTripsThroughTheUsersFile)
{
    Sandbox sandbox;
    {
        QtSettingsStore store;
        EXPECT_EQ(store.path(), sandbox.settingsPath());
        EXPECT_EQ(options::lineSettings(store), "9600,n,8,1");
        EXPECT_FALSE(QFile::exists(sandbox.settingsPath())) << "reading writes nothing";

        ASSERT_TRUE(options::storeComPort(store, 3));
        ASSERT_TRUE(options::storeLineSettings(store, "4800,n,8,1"));
        ASSERT_TRUE(options::storeRunMinimized(store, 1));
        ASSERT_TRUE(options::storeTopMost(store, 0));
    }
    const QByteArray text = sandbox.readSettings();
    EXPECT_TRUE(text.contains("[Com]\nComPort=3\nSettings=\"4800,n,8,1\"")) << text.constData();
    EXPECT_TRUE(text.contains("[Win]\nMin=1\nTop=0")) << text.constData();

    QtSettingsStore again;
    EXPECT_EQ(options::comPort(again).value, 3);
    EXPECT_EQ(options::lineSettings(again), "4800,n,8,1");
    EXPECT_EQ(options::runMinimized(again).value, 1);
    EXPECT_EQ(options::topMost(again).value, 0);
}

TEST(SettingsFile, HandEditedFilesReadAsTheOperatorMeantThem)
{
    Sandbox sandbox;
    sandbox.writeSettings("[Com]\nSettings=4800,e,7,2\nComPort = 2\n\n[Devices]\nCOM2=/dev/ttyUSB0\n"
                          "[Win]\nTop=x\n");
    QtSettingsStore store;
    EXPECT_EQ(options::lineSettings(store), "4800,e,7,2");
    EXPECT_EQ(options::comPort(store).value, 2);
    EXPECT_EQ(options::devicePath(store, 2), "/dev/ttyUSB0");
    EXPECT_EQ(options::devicePath(store, 3), "/dev/ttyS2");
    EXPECT_FALSE(options::topMost(store).status);

    // Garbage does not stop what can be read, nor later writes.
    Sandbox garbage;
    garbage.writeSettings(QByteArray("\x00\xff[[[=\n=\n[Com\nComPort=4\n\x01\x02", 26));
    QtSettingsStore damaged;
    EXPECT_TRUE(options::storeTopMost(damaged, 1));
    EXPECT_EQ(options::topMost(QtSettingsStore()).value, 1);
}

TEST(SettingsFile, AStoreWhoseFolderIsAFileCannotBeWritten)
{
    // Nothing can be created below a regular file, not even by root.
    Sandbox sandbox;
    QFile blocker(sandbox.path(QStringLiteral("not-a-dir")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QtSettingsStore store(sandbox.path(QStringLiteral("not-a-dir/VARN.conf")));
    const Status s = options::storeTopMost(store, 1);
    EXPECT_FALSE(s);
    EXPECT_NE(s.reason().find("cannot write"), std::string::npos) << s.reason();
}
