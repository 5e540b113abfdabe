// SPDX-License-Identifier: GPL-3.0-or-later
// Windows host programs under Wine, for real: a Wine prefix made in the build
// folder (null graphics driver, so no X display is needed), the bridge in it,
// a Win32 test host, torvak-ptt and the simulated radio.
#include "support/helpers.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace torvak::test;

namespace {

QString prefix() { return QCoreApplication::applicationDirPath() + QStringLiteral("/wine-prefix"); }

void underWine(QProcess& p, const QStringList& command)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("WINEPREFIX"), prefix());
    env.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
    env.insert(QStringLiteral("WINEDLLOVERRIDES"), QStringLiteral("mscoree,mshtml="));
    p.setProcessEnvironment(env);
    p.start(command.first(), command.mid(1));
}

int host(const QStringList& args, int timeoutMs = 60000) // the test host's exit code, -1 if it hung
{
    QProcess p;
    underWine(p, QStringList{"wine", bin("torvak-test-host.exe.so")} + args);
    const bool ended = p.waitForFinished(timeoutMs);
    p.kill();
    return ended ? p.exitCode() : -1;
}

struct WineBridge : ::testing::Test {
    static void SetUpTestSuite() // one prefix for the suite: making one takes 15 to 20 s
    {
        QDir(prefix()).removeRecursively();
        QProcess reg;
        underWine(reg, {"wine", "reg", "add", "HKCU\\Software\\Wine\\Drivers", "/v", "Graphics", "/d", "null", "/f"});
        ASSERT_TRUE(reg.waitForFinished(120000) && reg.exitCode() == 0);
        stopWineServer(); // its desktop started with the default driver
    }
    static void TearDownTestSuite()
    {
        stopWineServer();
        QDir(prefix()).removeRecursively();
    }
    static void stopWineServer() { QProcess::execute("sh", {"-c", QStringLiteral("WINEPREFIX='%1' wineserver -k; WINEPREFIX='%1' wineserver -w").arg(prefix())}); }
    Sandbox sandbox;
    Radio radio{sandbox.path(QStringLiteral("radio"))};
    QProcess bridge;
    QByteArray said;
    bool bridgeSays(const char* text) { return QTest::qWaitFor([&] { bridge.waitForReadyRead(10); return (said += bridge.readAllStandardError()).contains(text); }, 30000); }
    void SetUp() override
    {
        sandbox.writeSettings(devicesFor(sandbox));
        underWine(bridge, {bin("torvak-wine-bridge")});
        ASSERT_TRUE(bridgeSays("forwarding"));
    }
    void TearDown() override
    {
        bridge.terminate();
        bridge.waitForFinished(3000);
        bridge.kill();
    }
};

} // namespace

// With torvak-ptt down a message is dropped, never kept, and the host is not
// held up; once it runs, every way of sending keys the radio in order; after
// the close command the bridge stays and reaches the next torvak-ptt; a second
// bridge in the prefix is refused.
TEST_F(WineBridge, HostMessagesKeyTheRadioInOrder)
{
    ASSERT_EQ(host({"send", "1"}), 0);
    EXPECT_TRUE(bridgeSays("dropped"));
    QStringList expected;
    {
        Program ptt(sandbox);
        for (const char* how : {"post", "send", "broadcast"}) {
            ASSERT_EQ(host({how, "1", "0"}), 0) << how;
            EXPECT_EQ(radio.waitLines((expected << "TX" << "RX").size()), expected) << how << ": the dropped transmit came late?";
        }
        ASSERT_EQ(host({"wide"}), 0); // only the low 32 bits of each parameter are the host's
        ASSERT_EQ(host({"flood", "200"}), 0);
        expected << "TX";
        for (int i = 0; i < 200; ++i)
            expected << (i % 2 == 0 ? "TX" : "RX");
        EXPECT_EQ(radio.waitLines(expected.size(), 10000), expected) << "200 posted messages, 200 frames in order";
        ASSERT_EQ(host({"close"}), 0);
        EXPECT_TRUE(ptt.endsWithZero());
        EXPECT_EQ(radio.waitLines(expected.size() + 1, 300), expected) << "no frame on the way out";
    }
    Program again(sandbox);
    ASSERT_EQ(host({"post", "0"}), 0);
    EXPECT_EQ(radio.waitLines(expected.size() + 1).value(expected.size()), "RX") << "the bridge did not reconnect";
    QProcess second;
    underWine(second, {bin("torvak-wine-bridge")});
    EXPECT_TRUE(second.waitForFinished(60000) && second.exitCode() != 0);
    EXPECT_TRUE(second.readAllStandardError().contains("already exists")) << "two bridges would forward twice";
}
