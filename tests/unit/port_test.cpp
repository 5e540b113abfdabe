// SPDX-License-Identifier: GPL-3.0-or-later
// The radio port and the device each port number opens, over a fake line
// and store.
#include "port/device_map.h"
#include "port/radio_port.h"
#include "support/fakes.h"

#include <gtest/gtest.h>

using namespace torvak;
using namespace torvak::test;

TEST(RadioPort, SettingsAndNumberChangeOnlyWhileClosedAndWritesGoOutWhole)
{
    // The rates the kernel knows by name: the ends (110, 921600) and ones between.
    for (const auto& [text, settings] : {std::pair{"9600,n,8,1", LineSettings{9600, Parity::None, 8, 1}}, {"38400,N,8,1", {38400, Parity::None, 8, 1}},
                                         {" 4800 , E ,7,\t2 ", {4800, Parity::Even, 7, 2}}, {"110,o,5,1", {110, Parity::Odd, 5, 1}},
                                         {"921600,M,6,1", {921600, Parity::Mark, 6, 1}}, {"19200,s,8,2", {19200, Parity::Space, 8, 2}}})
        EXPECT_EQ(parseLineSettings(text), settings) << text;
    for (const char* bad : {"", "48x", "4800", "4800,n,8", "4800,n,8,1,", "4800,n,8,1,1", "4801,n,8,1", "-9600,n,8,1",
                            "9600,x,8,1", "9600,nn,8,1", "9600,n,4,1", "9600,n,9,1", "9600,n,8,0", "9600,n,8,3",
                            "9600,n,8,1.5", "9600,,8,1", "1e4,n,8,1", "99999999999,n,8,1", "109,n,8,1", "921601,n,8,1"})
        EXPECT_FALSE(parseLineSettings(bad)) << bad;

    FakeDevice device;
    RadioPort port(device);
    EXPECT_FALSE(port.setPortNumber(0));
    EXPECT_FALSE(port.setPortNumber(17));
    EXPECT_TRUE(port.setPortNumber(16) && port.setPortNumber(3) && port.setSettings("4800,e,7,2"));
    EXPECT_FALSE(port.setSettings("48x"));
    EXPECT_FALSE(port.write(kTransmitFrame)) << "closed";
    ASSERT_TRUE(port.open("/dev/fake3"));
    EXPECT_EQ(device.openedWith, (LineSettings{4800, Parity::Even, 7, 2})) << "a rejected text left the settings";
    EXPECT_FALSE(port.open("/dev/fake3")) << "while open";
    EXPECT_FALSE(port.setPortNumber(2)) << "while open";
    EXPECT_FALSE(port.setSettings("9600,n,8,1")) << "while open";
    device.stalled = true; // 73 frames fill 511 of the 512 bytes; the 74th would not fit whole
    for (int i = 0; i < 73; ++i)
        ASSERT_TRUE(port.write(kTransmitFrame)) << i;
    EXPECT_FALSE(port.write(kReceiveFrame));
    device.pending.resize(505);
    EXPECT_TRUE(port.write(kReceiveFrame));
    EXPECT_EQ(port.close(), 512u) << "a stalled line keeps what it was given";
    EXPECT_EQ(port.close(), 0u) << "closing a closed port is no error";
    device.missing.insert("/dev/fake2");
    ASSERT_TRUE(port.setPortNumber(2));
    EXPECT_EQ(port.open("/dev/fake2").reason(), "COM2 (/dev/fake2): no such device");

    // What each mapping opens: absent, the built-in port; empty, nothing; a
    // relative path, refused with an example.
    MemoryStore store;
    store.values = {{"Devices/COM2", " /dev/serial/by-id/usb-radio "}, {"Devices/COM3", ""}, {"Devices/COM4", "ttyUSB0"}};
    for (const auto& [n, path, reason] : {std::tuple{1, "/dev/ttyS0", ""}, {16, "/dev/ttyS15", ""}, {2, "/dev/serial/by-id/usb-radio", ""},
                                          {3, "", "no device is mapped to COM3 ([Devices] COM3 is empty)"},
                                          {4, "", "[Devices] COM4=ttyUSB0 is not an absolute path: give the device's full path, such as /dev/ttyUSB0"}}) {
        const Checked<std::string> mapped = deviceFor(store, n);
        EXPECT_EQ(mapped.value, path) << n;
        EXPECT_EQ(mapped.status.reason(), reason) << n;
    }
}
