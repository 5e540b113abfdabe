// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakes.h"
#include "settings/options.h"

#include <gtest/gtest.h>

using namespace torvak;
using namespace torvak::options;
using torvak::test::MemoryStore;

TEST(Options, EmptyStoreGivesTheDefaultsAndWritesNothing)
{
    MemoryStore store;
    EXPECT_EQ(comPortListPosition(store).value, 0);
    EXPECT_EQ(comPort(store).value, 1);
    EXPECT_EQ(lineSettings(store), "9600,n,8,1");
    EXPECT_EQ(runMinimized(store).value, 0);
    EXPECT_EQ(topMost(store).value, 0);
    EXPECT_EQ(devicePath(store, 1), "/dev/ttyS0");
    EXPECT_EQ(devicePath(store, 4), "/dev/ttyS3");
    EXPECT_TRUE(store.writes.empty());
}

TEST(Options, StoredPortIsReadTwoWaysWithHalvesToEven)
{
    struct Case {
        const char* text;
        bool listOk;
        int list;
        bool portOk;
        int port;
    };
    const Case cases[] = {
        {"3", true, 2, true, 3},
        {"2.5", true, 2, true, 2},    // 1.5 -> 2 for the list, 2.5 -> 2 for the port
        {"3.5", true, 2, true, 4},    // 2.5 -> 2, 3.5 -> 4
        {" 4 ", true, 3, true, 4},
        {"+2", true, 1, true, 2},
        {"9", true, 8, true, 9},      // the list has no such entry; the port is still offered 9
        {"0", true, -1, true, 0},
        {"1e1", true, 9, true, 10},
        {"x", false, 0, false, 0},
        {"", false, 0, false, 0},
        {"3x", false, 0, false, 0},
        {"0x10", false, 0, false, 0},
        {"inf", false, 0, false, 0},
        {"99999", false, 0, false, 0},
        {"-32768", false, 0, true, -32768}, // minus one leaves the 16-bit range
        {"32768", true, 32767, false, 0},
    };
    for (const Case& c : cases) {
        MemoryStore store;
        store.values["Com/ComPort"] = c.text;
        const auto list = comPortListPosition(store);
        const auto port = comPort(store);
        EXPECT_EQ(list.status.ok(), c.listOk) << c.text;
        EXPECT_EQ(port.status.ok(), c.portOk) << c.text;
        if (c.listOk) {
            EXPECT_EQ(list.value, c.list) << c.text;
        }
        if (c.portOk) {
            EXPECT_EQ(port.value, c.port) << c.text;
        }
    }
}

TEST(Options, WritesAreShortestDecimalTextAndFailuresReachTheCaller)
{
    MemoryStore store;
    EXPECT_TRUE(storeComPort(store, 3));
    EXPECT_TRUE(storeTopMost(store, 1));
    EXPECT_TRUE(storeTopMost(store, 0));
    EXPECT_TRUE(storeRunMinimized(store, -2));
    EXPECT_TRUE(storeLineSettings(store, "48x"));
    EXPECT_EQ(store.writes, (std::vector<std::string>{"Com/ComPort=3", "Win/Top=1", "Win/Top=0",
                                                      "Win/Min=-2", "Com/Settings=48x"}));
    store.writable = false;
    EXPECT_FALSE(storeTopMost(store, 1));
    EXPECT_EQ(store.values["Win/Top"], "0");

    store.values["Devices/COM2"] = "/dev/serial/by-id/usb-radio";
    EXPECT_EQ(devicePath(store, 2), "/dev/serial/by-id/usb-radio");
}
