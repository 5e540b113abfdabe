// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakes.h"
#include "port/line_settings.h"
#include "port/radio_port.h"

#include <gtest/gtest.h>

using namespace torvak;
using torvak::test::FakeDevice;

TEST(LineSettings, ParsesWhatThePortAccepts)
{
    EXPECT_EQ(parseLineSettings("9600,n,8,1"), (LineSettings{9600, Parity::None, 8, 1}));
    EXPECT_EQ(parseLineSettings(" 4800 , E ,7, 2 "), (LineSettings{4800, Parity::Even, 7, 2}));
    EXPECT_EQ(parseLineSettings("110,o,5,1"), (LineSettings{110, Parity::Odd, 5, 1}));
    EXPECT_EQ(parseLineSettings("921600,M,6,1"), (LineSettings{921600, Parity::Mark, 6, 1}));
    EXPECT_EQ(parseLineSettings("19200,s,8,2"), (LineSettings{19200, Parity::Space, 8, 2}));

    for (const char* bad : {"", "4", "48", "48x", "4800", "4800,n,8", "4800,n,8,1,", "4800,n,8,1,1",
                            "4801,n,8,1", "0,n,8,1", "-9600,n,8,1", "9600,x,8,1", "9600,nn,8,1",
                            "9600,n,4,1", "9600,n,9,1", "9600,n,8,0", "9600,n,8,3", "9600,n,8,1.5",
                            "9600,,8,1", "1e4,n,8,1", "9600;n;8;1", "99999999999,n,8,1"})
        EXPECT_FALSE(parseLineSettings(bad)) << bad;
}

TEST(RadioPort, PortNumberAndSettingsChangeOnlyWhileClosed)
{
    FakeDevice device;
    RadioPort port(device, [](int n) { return "/dev/fake" + std::to_string(n); });
    EXPECT_EQ(port.portNumber(), 1);
    EXPECT_EQ(port.settings(), "9600,n,8,1");

    EXPECT_FALSE(port.setPortNumber(0));
    EXPECT_FALSE(port.setPortNumber(-1));
    EXPECT_FALSE(port.setPortNumber(17));
    EXPECT_TRUE(port.setPortNumber(16));
    EXPECT_TRUE(port.setPortNumber(3));
    EXPECT_EQ(port.portNumber(), 3);

    // A rejected string leaves the settings in force.
    EXPECT_TRUE(port.setSettings("4800,e,7,2"));
    EXPECT_FALSE(port.setSettings("48x"));
    EXPECT_EQ(port.settings(), "4800,e,7,2");

    ASSERT_TRUE(port.open());
    EXPECT_EQ(device.log.back(), "open /dev/fake3");
    EXPECT_EQ(device.openedWith, (LineSettings{4800, Parity::Even, 7, 2}));
    EXPECT_FALSE(port.open()) << "already open";
    EXPECT_FALSE(port.setPortNumber(2));
    EXPECT_FALSE(port.setSettings("9600,n,8,1"));
    EXPECT_EQ(port.portNumber(), 3);
    EXPECT_TRUE(port.close());
    EXPECT_TRUE(port.close()) << "closing a closed port is no error";

    device.missing.insert("/dev/fake2");
    ASSERT_TRUE(port.setPortNumber(2));
    const Status failed = port.open();
    EXPECT_FALSE(failed);
    EXPECT_NE(failed.reason().find("COM2"), std::string::npos) << failed.reason();
    EXPECT_FALSE(port.isOpen());
}

TEST(RadioPort, WritesGoOutWholeOrNotAtAll)
{
    FakeDevice device;
    RadioPort port(device, [](int) { return std::string("/dev/fake"); });
    EXPECT_FALSE(port.writeFrame(kTransmitFrame, true)) << "closed";
    EXPECT_TRUE(device.wire.empty());

    ASSERT_TRUE(port.open());
    device.stalled = true;
    // 73 frames fill 511 of the 512 bytes; the 74th would not fit whole.
    for (int i = 0; i < 73; ++i)
        ASSERT_TRUE(port.write(kTransmitFrame)) << i;
    EXPECT_FALSE(port.write(kReceiveFrame));
    EXPECT_EQ(device.queued.size(), 73u * kFrameSize);
    device.queued.resize(505); // the device has taken some meanwhile
    EXPECT_TRUE(port.write(kReceiveFrame));
    EXPECT_TRUE(std::equal(kReceiveFrame.begin(), kReceiveFrame.end(), device.queued.end() - 7));
}
