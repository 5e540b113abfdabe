// SPDX-License-Identifier: GPL-3.0-or-later
// Windows host programs under Wine, for real: a Wine prefix made in the build
// folder (null graphics driver, so no X display is needed), the bridge in it,
// a Win32 test host, torvak-ptt and the simulated radio.
#include "support/helpers.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace torvak::test;

namespace {

struct WineBridge : ::testing::Test, SimulatedRadio {
    WinePrefix wine{QCoreApplication::applicationDirPath() + QStringLiteral("/wine-prefix")};
    QProcess bridge;
    QByteArray said;
    ~WineBridge() override
    {
        wine.stop();
        bridge.waitForFinished(3000);
    }
    int host(const QStringList& args) const { return wine.run(QStringList{"wine", bin("torvak-test-host.exe.so")} + args); }
    bool bridgeSays(const char* text) { return QTest::qWaitFor([&] { bridge.waitForReadyRead(10); return (said += bridge.readAllStandardError()).contains(text); }, 30000); }
    void SetUp() override
    {
        ASSERT_TRUE(wine.made);
        wine.start(bridge, {bin("torvak-wine-bridge")});
        ASSERT_TRUE(bridgeSays("forwarding"));
    }
};

} // namespace

// With torvak-ptt down a message is dropped, never kept; once it runs, every
// way of sending keys the radio in order; after the close command the bridge
// stays and reaches the next torvak-ptt; a second bridge in the prefix is refused.
TEST_F(WineBridge, HostMessagesKeyTheRadioInOrder)
{
    ASSERT_EQ(host({"send", "0,1"}), 0);
    EXPECT_TRUE(bridgeSays("dropped"));
    QStringList expected;
    {
        Program ptt(sandbox);
        for (const char* how : {"post", "send", "broadcast"}) {
            ASSERT_EQ(host({how, "0,1", "0,0"}), 0) << how;
            EXPECT_EQ(radio.waitLines((expected << "TX" << "RX").size()), expected) << how << ": the dropped transmit came late?";
        }
        QStringList flood{"post", "0x100000000,0x100000001"}; // only the low 32 bits of each word are the host's
        expected << "TX";
        for (int i = 0; i < 200; ++i) {
            flood << (i % 2 ? "0,0" : "0,1");
            expected << (i % 2 ? "RX" : "TX");
        }
        ASSERT_EQ(host(flood), 0);
        EXPECT_EQ(radio.waitLines(expected.size(), 10000), expected) << "posted messages, a frame each in order";
        ASSERT_EQ(host({"post", "1,0"}), 0);
        EXPECT_TRUE(ptt.endsWithZero());
        EXPECT_EQ(radio.waitLines(expected.size() + 1, 300), expected) << "no frame on the way out";
    }
    Program again(sandbox);
    ASSERT_EQ(host({"post", "0,0"}), 0);
    EXPECT_EQ(radio.waitLines(expected.size() + 1).value(expected.size()), "RX") << "the bridge did not reconnect";
    QProcess second;
    wine.start(second, {bin("torvak-wine-bridge")});
    EXPECT_GT(exitCodeOf(second, 60000), 0);
    EXPECT_TRUE(second.readAllStandardError().contains("already exists")) << "two bridges would forward twice";
}
