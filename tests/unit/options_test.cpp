// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/options.h"
#include "settings/settings_text.h"
#include "support/fakes.h"

#include <gtest/gtest.h>

using namespace torvak::options;
using torvak::test::MemoryStore;

// The stored port is read twice, as the list position (minus one) and as the
// port number, each rounded halves to even into 16 bits (-99: refused).
TEST(Options, TheStoredPortTableDefaultsAndWrites)
{
    for (const auto& [text, list, port] : {std::tuple{"3", 2, 3}, {"2.5", 2, 2}, {"3.5", 2, 4}, {" 4 ", 3, 4}, {"+2", 1, 2},
                                           {"9", 8, 9}, {"0", -1, 0}, {"1e1", 9, 10}, {"x", -99, -99}, {"", -99, -99},
                                           {"3x", -99, -99}, {"0x10", -99, -99}, {"inf", -99, -99}, {"99999", -99, -99},
                                           {"-32768", -99, -32768}, {"32768", 32767, -99}}) {
        MemoryStore store;
        store.values["Com/ComPort"] = text;
        const auto l = comPortListPosition(store), p = comPort(store);
        EXPECT_EQ(std::pair(l.status ? l.value : -99, p.status ? p.value : -99), std::pair(list, port)) << text;
    }
    // [Rigctl] Port: absent or 0 is off; 1024 to 65535, whole.
    for (const auto& [text, port] : {std::pair{"", 0}, {"0", 0}, {"4532", 4532}, {"1024", 1024}, {"65535", 65535},
                                     {"1023", -1}, {"65536", -1}, {"4532.5", -1}, {"x", -1}}) {
        MemoryStore store;
        if (*text)
            store.values["Rigctl/Port"] = text;
        const auto got = rigctlPort(store);
        EXPECT_EQ(got.status ? got.value : -1, port) << text;
    }
    MemoryStore store;
    EXPECT_EQ(comPortListPosition(store).value, 0);
    EXPECT_EQ(comPort(store).value, 1);
    EXPECT_EQ(lineSettings(store), "9600,n,8,1");
    EXPECT_EQ(runMinimized(store).value, 0);
    EXPECT_EQ(topMost(store).value, 0);
    EXPECT_TRUE(store.writes.empty()) << "reading writes nothing";
    EXPECT_TRUE(storeComPort(store, 3) && storeTopMost(store, 1) && storeRunMinimized(store, -2) && storeLineSettings(store, "48x"));
    EXPECT_EQ(store.writes, (std::vector<std::string>{"Com/ComPort=3", "Win/Top=1", "Win/Min=-2", "Com/Settings=48x"}));
    EXPECT_EQ(runMinimized(store).value, -2);
    store.writable = false;
    EXPECT_FALSE(storeTopMost(store, 0));
}

// A line that cannot be read costs no other: every key around it is read,
// the damage is told by its line, and a write changes its own line only.
// Values a write quotes or escapes read back as written.
TEST(SettingsText, ADamagedLineCostsNoOther)
{
    for (const std::string bad : {"key = \"open quote", "[unterminated", "no equals sign", "=7", "Settings=9600\\"}) {
        const std::string before = "[Com]\nComPort=2\n", after = "[Devices]\nCOM1=/dev/ttyUSB0\n\n[Safety]\nTransmitLimit=120\n";
        torvak::SettingsText text(before + bad + "\n" + after);
        ASSERT_EQ(text.damage().size(), 1u) << bad;
        EXPECT_TRUE(text.damage()[0].starts_with("line 3 (" + bad + "): ")) << text.damage()[0];
        EXPECT_EQ(text.value("Com", "ComPort"), "2") << bad;
        EXPECT_EQ(text.value("Devices", "COM1"), "/dev/ttyUSB0") << bad;
        EXPECT_EQ(text.value("Safety", "TransmitLimit"), "120") << bad;
        text.setValue("Com", "ComPort", "3");
        text.setValue("Safety", "TransmitLimit", "60");
        text.setValue("Win", "Top", "1");
        text.setValue("Com", "Settings", "1200"); // a new key goes to the end of its section
        EXPECT_EQ(text.text(), "[Com]\nComPort=3\n" + bad + "\nSettings=1200\n[Devices]\nCOM1=/dev/ttyUSB0\n\n[Safety]\nTransmitLimit=60\n\n[Win]\nTop=1\n");
    }
    torvak::SettingsText text("[Com]\nSettings=1200,n,8,1\nSettings=9600,n,8,1\nOther=\"4800,e,7,2\"\n");
    EXPECT_EQ(text.value("Com", "Settings"), "9600,n,8,1") << "a hand-edited list is one text, and the last line of a key counts";
    EXPECT_EQ(text.value("Com", "Other"), "4800,e,7,2");
    // Each value as Qt writes it, and read back.
    for (const auto& [value, written] : {std::pair{"9600,n,8,1", "\"9600,n,8,1\""}, {" blank", "\" blank\""}, {"a\"b\\c", "a\\\"b\\\\c"},
                                         {"@at", "@@at"}, {"tab\there", "tab\\there"}, {"semi;colon", "\"semi;colon\""}, {"", ""}}) {
        text.setValue("Com", "Settings", value);
        EXPECT_NE(text.text().find(std::string("\nSettings=") + written + "\n"), std::string::npos) << text.text();
        EXPECT_EQ(torvak::SettingsText(text.text()).value("Com", "Settings"), value) << text.text();
    }
}
