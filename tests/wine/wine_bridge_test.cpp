// SPDX-License-Identifier: GPL-3.0-or-later
// Windows host programs under Wine, for real: a Wine prefix made in the build
// folder (null graphics driver, so no X display is needed), the bridge in it,
// a Win32 test host, torvak-ptt and the simulated radio.
#include "e2e/e2e_support.h"

#include <QDir>

using namespace torvak::test;
using namespace torvak::e2e;

namespace {

const QString kTx = QStringLiteral("TX"), kRx = QStringLiteral("RX");

QString prefix() { return QCoreApplication::applicationDirPath() + QStringLiteral("/wine-prefix"); }

QProcessEnvironment wineEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("WINEPREFIX"), prefix());
    env.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
    env.insert(QStringLiteral("WINEDLLOVERRIDES"), QStringLiteral("mscoree,mshtml="));
    return env;
}

// Runs a program under Wine to its end (bounded); its exit code, -1 if it hung.
int wine(const QStringList& args, QByteArray* out = nullptr, int timeoutMs = 60000)
{
    QProcess p;
    p.setProcessEnvironment(wineEnvironment());
    p.start(QStringLiteral("wine"), args);
    const bool ended = p.waitForFinished(timeoutMs);
    if (out)
        *out = p.readAllStandardOutput() + p.readAllStandardError();
    if (!ended) {
        p.kill();
        p.waitForFinished(3000);
        return -1;
    }
    return p.exitCode();
}

int host(const QStringList& args, QByteArray* out = nullptr) { return wine(QStringList{bin("torvak-test-host.exe.so")} + args, out); }

struct Bridge {
    QProcess process;
    QByteArray err;
    Bridge()
    {
        process.setProcessEnvironment(wineEnvironment());
        process.start(bin("torvak-wine-bridge"), {});
    }
    ~Bridge()
    {
        process.terminate();
        if (!process.waitForFinished(3000))
            process.kill();
        process.waitForFinished(3000);
    }
    bool says(const char* text, int timeoutMs = 30000)
    {
        waitUntil([&] {
            err += process.readAllStandardError();
            return err.contains(text) || process.state() == QProcess::NotRunning;
        }, timeoutMs);
        err += process.readAllStandardError();
        return err.contains(text);
    }
};

struct WineBridge : ::testing::Test {
    // One prefix for the suite: making one takes about 15 to 20 seconds.
    static void SetUpTestSuite()
    {
        QDir(prefix()).removeRecursively();
        ASSERT_EQ(wine({QStringLiteral("reg"), QStringLiteral("add"), QStringLiteral("HKCU\\Software\\Wine\\Drivers"),
                        QStringLiteral("/v"), QStringLiteral("Graphics"), QStringLiteral("/d"), QStringLiteral("null"),
                        QStringLiteral("/f")}, nullptr, 120000), 0);
        // The prefix's desktop started with the default driver: start anew.
        stopWineServer();
    }
    static void TearDownTestSuite()
    {
        stopWineServer();
        QDir(prefix()).removeRecursively();
    }
    static void stopWineServer()
    {
        QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("WINEPREFIX='%1' wineserver -k; "
                                                                                      "WINEPREFIX='%1' wineserver -w")
                                                                            .arg(prefix())});
    }
    void SetUp() override { sandbox.writeSettings(devicesFor(sandbox)); }

    Sandbox sandbox;
};

} // namespace

TEST_F(WineBridge, HostMessagesKeyTheRadioInOrderAndCloseEndsTorvakPtt)
{
    Radio radio(sandbox.path(QStringLiteral("radio")));
    Program ptt(sandbox);
    Bridge bridge;
    ASSERT_TRUE(bridge.says("forwarding")) << bridge.err.constData();

    QStringList expected;
    for (const char* how : {"post", "send", "broadcast"}) {
        ASSERT_EQ(host({QLatin1String(how), QStringLiteral("1"), QStringLiteral("0")}), 0) << how;
        expected << kTx << kRx;
        EXPECT_EQ(radio.waitLines(expected.size()), expected) << how;
    }
    // Only the low 32 bits of each 64-bit parameter are the host's words.
    ASSERT_EQ(host({QStringLiteral("wide")}), 0);
    expected << kTx;
    EXPECT_EQ(radio.waitLines(expected.size()), expected);
    ASSERT_EQ(host({QStringLiteral("flood"), QStringLiteral("200")}), 0);
    for (int i = 0; i < 200; ++i)
        expected << (i % 2 == 0 ? kTx : kRx);
    EXPECT_EQ(radio.waitLines(expected.size(), 10000), expected) << "200 posted messages, 200 frames in order";

    ASSERT_EQ(host({QStringLiteral("close")}), 0);
    ASSERT_TRUE(ptt.process.waitForFinished(10000));
    EXPECT_EQ(ptt.process.exitCode(), 0);
    EXPECT_EQ(radio.waitLines(expected.size() + 1, 300).size(), expected.size()) << "no frame on the way out";
    EXPECT_EQ(bridge.process.state(), QProcess::Running) << "the bridge stays for the next torvak-ptt";
}

TEST_F(WineBridge, WithTorvakPttDownNothingIsKeptAndOneBridgeIsEnough)
{
    Radio radio(sandbox.path(QStringLiteral("radio")));
    Bridge bridge;
    ASSERT_TRUE(bridge.says("forwarding")) << bridge.err.constData();

    // Nobody listens: the host is not held up, and the transmit is dropped.
    QByteArray out;
    ASSERT_EQ(host({QStringLiteral("send"), QStringLiteral("1")}, &out), 0);
    std::printf("SendMessageA with torvak-ptt down: %s", out.constData());
    EXPECT_TRUE(bridge.says("dropped")) << bridge.err.constData();

    // Once torvak-ptt runs, the next message keys the radio; nothing older does.
    {
        Program ptt(sandbox);
        ASSERT_EQ(host({QStringLiteral("send"), QStringLiteral("0")}), 0);
        EXPECT_EQ(radio.waitLines(1), QStringList{kRx});
        EXPECT_EQ(radio.waitLines(2, 300), QStringList{kRx}) << "the dropped transmit never arrives";
        ASSERT_EQ(host({QStringLiteral("close")}), 0);
        ASSERT_TRUE(ptt.process.waitForFinished(10000));
    }
    // And again after a restart: the kept connection is made anew.
    Program ptt(sandbox);
    ASSERT_EQ(host({QStringLiteral("post"), QStringLiteral("1")}), 0);
    EXPECT_EQ(radio.waitLines(2), (QStringList{kRx, kTx}));

    // Two bridges would forward every broadcast twice.
    QProcess second;
    second.setProcessEnvironment(wineEnvironment());
    second.start(bin("torvak-wine-bridge"), {});
    ASSERT_TRUE(second.waitForFinished(60000));
    EXPECT_NE(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardError().contains("already exists")) << "says why";
}
