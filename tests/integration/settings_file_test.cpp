// SPDX-License-Identifier: GPL-3.0-or-later
// The options in a real VARN.conf in a temporary XDG_CONFIG_HOME.
#include "platform/qt_settings_store.h"
#include "settings/options.h"
#include "support/helpers.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace torvak;
using namespace torvak::test;

TEST(SettingsFile, OptionsRoundTripAndHandEditedFilesReadAsMeant)
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

    sandbox.writeSettings("[Com]\nSettings=4800,e,7,2\nComPort = 2\n\n[Devices]\nCOM2=/dev/ttyUSB0\n[Win]\nTop=x\n");
    QtSettingsStore store;
    EXPECT_EQ(options::lineSettings(store), "4800,e,7,2") << "unquoted commas are one text";
    EXPECT_EQ(options::comPort(store).value, 2);
    EXPECT_EQ(options::devicePath(store, 2), "/dev/ttyUSB0");
    EXPECT_FALSE(options::topMost(store).status);

    // Garbage does not stop what can be read, nor later writes.
    sandbox.writeSettings(QByteArray("\x00\xff[[[=\n=\n[Com\nComPort=4\n\x01\x02", 26));
    QtSettingsStore damaged;
    EXPECT_TRUE(options::storeTopMost(damaged, 1));
    EXPECT_EQ(options::topMost(QtSettingsStore()).value, 1);

    // Nothing can be created below a regular file, not even by root.
    QtSettingsStore blocked(sandbox.settingsPath() + QStringLiteral("/VARN.conf"));
    const Status s = options::storeTopMost(blocked, 1);
    EXPECT_NE(s.reason().find("cannot write"), std::string::npos) << s.reason();
}
