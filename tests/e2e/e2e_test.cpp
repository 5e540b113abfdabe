// SPDX-License-Identifier: GPL-3.0-or-later
// The built binaries together: radio-sim, torvak-ptt and torvakfunc, in a
// private runtime and config directory.
#include "e2e_support.h"

using namespace torvak::test;
using namespace torvak::e2e;


TEST(EndToEnd, TxThenRxGivesExactlyTwoFramesAndCloseExitsZero)
{
    Sandbox sandbox;
    Radio radio(sandbox.path(QStringLiteral("radio")));
    sandbox.writeSettings(devicesFor(sandbox));
    Program ptt(sandbox);

    EXPECT_EQ(torvakfunc({QStringLiteral("tx")}), 0);
    EXPECT_EQ(torvakfunc({QStringLiteral("rx")}), 0);
    EXPECT_EQ(torvakfunc({QStringLiteral("0"), QStringLiteral("2")}), 0);
    EXPECT_EQ(torvakfunc({QStringLiteral("2"), QStringLiteral("1")}), 0);
    EXPECT_EQ(radio.waitLines(2), (QStringList{QStringLiteral("TX"), QStringLiteral("RX")}));

    // A second instance leaves the first alone and says why.
    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    second.setProcessEnvironment(env);
    second.start(bin("torvak-ptt"), {});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_NE(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardError().contains("already running"));

    EXPECT_EQ(torvakfunc({QStringLiteral("close")}), 0);
    ASSERT_TRUE(ptt.process.waitForFinished(5000));
    EXPECT_EQ(ptt.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(ptt.process.exitCode(), 0);
    settle(100);
    EXPECT_EQ(radio.waitLines(3, 200).size(), 2) << "no frame on the way out";

    QString err;
    EXPECT_NE(torvakfunc({QStringLiteral("tx")}, &err), 0) << "nobody listens any more";
    EXPECT_TRUE(err.contains(QStringLiteral("not running"))) << err.toStdString();
}

TEST(EndToEnd, TheRadioDisappearingMidRunNeitherCrashesNorSpins)
{
    Sandbox sandbox;
    auto radio = std::make_unique<Radio>(sandbox.path(QStringLiteral("radio")));
    sandbox.writeSettings(devicesFor(sandbox));
    Program ptt(sandbox);
    EXPECT_EQ(torvakfunc({QStringLiteral("tx")}), 0);
    EXPECT_EQ(radio->waitLines(1), QStringList{QStringLiteral("TX")});

    radio.reset(); // unplugged
    settle(300);
    const double before = ptt.cpuSeconds();
    settle(1000);
    EXPECT_LT(ptt.cpuSeconds() - before, 0.5) << "spinning on the hung-up device";

    EXPECT_EQ(torvakfunc({QStringLiteral("rx")}), 0);
    settle(200);
    EXPECT_EQ(ptt.process.state(), QProcess::Running);
    EXPECT_TRUE(ptt.says("frame not sent")) << ptt.stderrText().constData();
}

TEST(EndToEnd, TorvakfuncRefusesWhatIsNotACommandPair)
{
    Sandbox sandbox;
    for (const QStringList& args : {QStringList{}, QStringList{QStringLiteral("up")},
                                    QStringList{QStringLiteral("0")},
                                    QStringList{QStringLiteral("0"), QStringLiteral("2147483648")},
                                    QStringList{QStringLiteral("0x1"), QStringLiteral("1")},
                                    QStringList{QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("1")}})
        EXPECT_EQ(torvakfunc(args), 2) << args.join(u' ').toStdString();
    QString err;
    EXPECT_EQ(torvakfunc({QStringLiteral("-2147483648"), QStringLiteral("0")}, &err), 1);
    EXPECT_TRUE(err.contains(QStringLiteral("not running")));
}

TEST(EndToEnd, ClosingTheWindowEndsTheProgramWithStatusZero)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "needs an X server with a window manager (scripts/with-x)";
    Sandbox sandbox;
    Radio radio(sandbox.path(QStringLiteral("radio")));
    sandbox.writeSettings(devicesFor(sandbox));
    QProcess ptt;
    ptt.start(bin("torvak-ptt"), {});
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(sandbox.runtimeDir() + "/TORVAKFUNC"); }, 5000));
    EXPECT_EQ(torvakfunc({QStringLiteral("tx")}), 0);
    EXPECT_EQ(radio.waitLines(1), QStringList{QStringLiteral("TX")});

    // The window manager's close, as the title bar's button sends it.
    QProcess find;
    find.start(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--sync"),
                                           QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                                           QStringLiteral("^TORVAK TenTec PTT V3$")});
    ASSERT_TRUE(find.waitForFinished(10000));
    const QString window = QString::fromUtf8(find.readAllStandardOutput()).split(u'\n').value(0);
    ASSERT_FALSE(window.isEmpty());
    QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"),
                                                  window, QStringLiteral("key"), QStringLiteral("alt+F4")});
    ASSERT_TRUE(ptt.waitForFinished(5000));
    EXPECT_EQ(ptt.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(ptt.exitCode(), 0);
    EXPECT_EQ(radio.waitLines(2, 300), QStringList{QStringLiteral("TX")}) << "no frame on the way out";
}

TEST(EndToEnd, HelpAndVersionOpenNothingAndNoDisplayIsSaidInOneLine)
{
    Sandbox sandbox;
    Pty radio;
    sandbox.writeSettings("[Devices]\nCOM1=" + radio.slavePath().toUtf8() + "\n");
    const unsigned speed = radio.lineSpeed();
    struct Case {
        const char* program;
        QStringList args;
        bool display;
        int exitCode;
        const char* says; // on stdout, or stderr when it fails
    };
    const Case cases[] = {
        {"torvak-ptt", {QStringLiteral("--help")}, true, 0, "usage: torvak-ptt"},
        {"torvak-ptt", {QStringLiteral("-h")}, false, 0, "usage: torvak-ptt"},
        {"torvak-ptt", {QStringLiteral("--version")}, true, 0, "torvak-ptt 3."},
        {"torvak-ptt", {QStringLiteral("-v")}, false, 0, "torvak-ptt 3."},
        {"torvak-ptt", {}, false, 1, "no display"},
        {"torvakfunc", {QStringLiteral("--help")}, true, 0, "usage: torvakfunc"},
        {"torvakfunc", {QStringLiteral("--version")}, true, 0, "torvakfunc 3."},
    };
    for (const Case& c : cases) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        if (c.display)
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        p.start(bin(c.program), c.args);
        ASSERT_TRUE(p.waitForFinished(5000)) << c.program << " " << c.args.join(u' ').toStdString();
        const QByteArray said = c.exitCode == 0 ? p.readAllStandardOutput() : p.readAllStandardError();
        EXPECT_EQ(p.exitCode(), c.exitCode) << c.program << " " << c.args.join(u' ').toStdString();
        EXPECT_TRUE(said.contains(c.says)) << said.constData();
        if (c.exitCode == 1) {
            EXPECT_EQ(said.count('\n'), 1) << "one line: " << said.constData();
        }
    }
    EXPECT_FALSE(QFile::exists(sandbox.runtimeDir() + QStringLiteral("/TORVAKFUNC")));
    EXPECT_FALSE(QFile::exists(sandbox.runtimeDir() + QStringLiteral("/TORVAKFUNC.lock")));
    EXPECT_EQ(radio.lineSpeed(), speed) << "the radio port was opened";
}
