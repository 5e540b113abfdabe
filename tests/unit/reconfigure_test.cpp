// SPDX-License-Identifier: GPL-3.0-or-later
// The three port sequences, step by step, over fakes of the device and store.
#include "fakes.h"
#include "port/reconfigure.h"

#include <gtest/gtest.h>

using namespace torvak;
using namespace torvak::test;

namespace {

struct Sequences : ::testing::Test {
    FakeDevice device;
    MemoryStore store;
    RecordingBox box;
    RadioPort port{device, [](int n) { return "/dev/radio" + std::to_string(n); }};
    PortPanel panel{port, store, box};

    void SetUp() override
    {
        ASSERT_TRUE(port.open());
        device.log.clear();
    }
};

} // namespace

TEST_F(Sequences, ChoosingAPortClosesStoresTheNumberAndReopens)
{
    EXPECT_FALSE(choosePort(panel, true, 2).failed());
    EXPECT_EQ(device.log, (std::vector<std::string>{"close", "open /dev/radio3"}));
    EXPECT_EQ(store.writes, std::vector<std::string>{"Com/ComPort=3"});
    EXPECT_TRUE(box.shown.empty());

    // Nothing happens before start-up has finished.
    device.log.clear();
    choosePort(panel, false, 0);
    EXPECT_TRUE(device.log.empty());
    EXPECT_EQ(store.writes.size(), 1u);
}

TEST_F(Sequences, AFailingPortChoiceSaysSoOnceAndStoresWhatThePortHas)
{
    device.missing.insert("/dev/radio2");
    const ResumeNext seq = choosePort(panel, true, 1);
    EXPECT_TRUE(seq.failed());
    EXPECT_EQ(box.shown, std::vector<std::string>{"Com port error"});
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(store.values["Com/ComPort"], "2");

    // No selection (-1) asks for port 0, which the port refuses: the number it
    // keeps is stored, and the sequence still tries to open.
    box.shown.clear();
    device.log.clear();
    device.missing.clear();
    choosePort(panel, true, -1);
    EXPECT_EQ(store.values["Com/ComPort"], "2");
    EXPECT_EQ(device.log, std::vector<std::string>{"open /dev/radio2"});
    EXPECT_EQ(box.shown, std::vector<std::string>{"Com port error"});

    // A store that cannot be written is a failed step too.
    box.shown.clear();
    store.writable = false;
    choosePort(panel, true, 0);
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(box.shown, std::vector<std::string>{"Com port error"});
}

TEST_F(Sequences, EditingStoresEveryTextAndReopensWithTheLastAccepted)
{
    for (const char* typed : {"4", "48", "480", "4800", "4800,", "4800,e", "4800,e,", "4800,e,7", "4800,e,7,",
                              "4800,e,7,2"}) {
        device.log.clear();
        editSettings(panel, true, typed);
        EXPECT_EQ(store.values["Com/Settings"], typed);
        EXPECT_EQ(device.log, (std::vector<std::string>{"close", "open /dev/radio1"})) << typed;
    }
    EXPECT_EQ(store.writes.size(), 10u);
    EXPECT_TRUE(box.shown.empty()) << "no message while typing";
    EXPECT_EQ(device.openedWith, (LineSettings{4800, Parity::Even, 7, 2}));

    editSettings(panel, true, "48x");
    EXPECT_EQ(device.openedWith, (LineSettings{4800, Parity::Even, 7, 2}));
    EXPECT_EQ(port.settings(), "4800,e,7,2");

    device.log.clear();
    editSettings(panel, false, "9600,n,8,1");
    EXPECT_TRUE(device.log.empty());
    EXPECT_EQ(store.values["Com/Settings"], "48x");
}

TEST_F(Sequences, LeavingTheBoxReappliesTheStoredTextAndWarnsOnce)
{
    store.values["Com/Settings"] = "48x";
    EXPECT_TRUE(leaveSettingsBox(panel).failed());
    EXPECT_EQ(box.shown, std::vector<std::string>{"Invalid comport settings"});
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(device.log, (std::vector<std::string>{"close", "open /dev/radio1"}));
    EXPECT_EQ(store.values["Com/Settings"], "48x");

    // Nothing stored: the default applies. A final open that fails is not reported.
    box.shown.clear();
    store.values.clear();
    ASSERT_TRUE(port.close());
    ASSERT_TRUE(port.setSettings("4800,n,8,1"));
    device.missing.insert("/dev/radio1");
    leaveSettingsBox(panel);
    EXPECT_TRUE(box.shown.empty());
    EXPECT_EQ(port.settings(), "9600,n,8,1");
    EXPECT_FALSE(port.isOpen());
}
