// SPDX-License-Identifier: GPL-3.0-or-later
// Faults an operator's machine really has, against the real program: the
// radio unplugged and plugged back, a busy or forbidden device, a broken
// settings file, an unfit runtime directory, senders that stall.
// The simulated radio's own record of what it received is the judge.
#include "e2e_support.h"
#include "platform/qt_serial_device.h"

#include <QDir>

#include <random>

#include <sys/stat.h>

using namespace torvak::test;
using namespace torvak::e2e;

namespace {

const QStringList kTx{QStringLiteral("TX")};

int xdotool(const QStringList& args) { return QProcess::execute(QStringLiteral("xdotool"), args); }

QString findWindow()
{
    QProcess find;
    find.start(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"),
                                           QStringLiteral("--name"), QStringLiteral("^TORVAK TenTec PTT V3$")});
    find.waitForFinished(10000);
    return QString::fromUtf8(find.readAllStandardOutput()).split(u'\n').value(0);
}

// A click at a point of the window's client area.
void clickAt(const QString& window, int x, int y)
{
    xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), window, QString::number(x), QString::number(y),
             QStringLiteral("click"), QStringLiteral("1")});
    settle(200);
}

void key(const QString& window, const QString& keys)
{
    xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), window, QStringLiteral("key"), keys});
    settle(200);
}

int rawConnection(const Sandbox& sandbox)
{
    const int fd = connectUnix(sandbox.runtimeDir() + QStringLiteral("/TORVAKFUNC"));
    EXPECT_GE(fd, 0);
    return fd;
}

ProgramOptions onScreen()
{
    ProgramOptions o;
    o.onScreen = true;
    return o;
}

ProgramOptions noLink()
{
    ProgramOptions o;
    o.expectLink = false;
    return o;
}

bool needsDisplay()
{
    if (!qEnvironmentVariableIsEmpty("DISPLAY"))
        return false;
    if (qEnvironmentVariableIsSet("TORVAK_EXPECT_WM"))
        ADD_FAILURE() << "scripts/with-x promised an X server";
    return true;
}

// Runs the program as another user: how a root test meets file permissions.
const QStringList kAsNobody{QStringLiteral("setpriv"), QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                            QStringLiteral("--clear-groups"), QStringLiteral("--")};

void handOverToNobody(const Sandbox& sandbox)
{
    ::chmod(QFile::encodeName(sandbox.path({})).constData(), 0711);
    for (const QString& dir : {sandbox.runtimeDir(), sandbox.configDir()})
        EXPECT_EQ(::chown(QFile::encodeName(dir).constData(), 65534, 65534), 0);
}

} // namespace

TEST(Faults, ARadioUnpluggedAndPluggedBackIsReopenedByTheOperator)
{
    if (needsDisplay())
        GTEST_SKIP() << "needs an X server with a window manager (scripts/with-x)";
    Sandbox sandbox;
    auto radio = std::make_unique<Radio>(sandbox.path(QStringLiteral("radio")));
    sandbox.writeSettings(devicesFor(sandbox));
    Program ptt(sandbox, onScreen());
    const QString window = findWindow();
    ASSERT_FALSE(window.isEmpty());
    clickAt(window, 39, 84); // More>>

    radio.reset(); // unplugged
    ASSERT_TRUE(ptt.says("went away"));
    EXPECT_EQ(torvakfunc({QStringLiteral("tx")}), 0);
    ASSERT_TRUE(ptt.says("frame not sent"));

    // Plugged back: leaving the settings box reopens the port.
    radio = std::make_unique<Radio>(sandbox.path(QStringLiteral("radio")));
    clickAt(window, 180, 65); // into the settings box
    key(window, QStringLiteral("Tab"));
    EXPECT_EQ(torvakfunc({QStringLiteral("tx")}), 0);
    EXPECT_EQ(radio->waitLines(1), kTx);

    // Again, and this time choosing the same port again reopens it.
    radio.reset();
    ASSERT_TRUE(ptt.says("went away"));
    radio = std::make_unique<Radio>(sandbox.path(QStringLiteral("radio")));
    clickAt(window, 144, 26); // open the port list
    key(window, QStringLiteral("Return"));
    EXPECT_EQ(torvakfunc({QStringLiteral("rx")}), 0);
    EXPECT_EQ(radio->waitLines(1), QStringList{QStringLiteral("RX")});
    EXPECT_FALSE(ptt.stderrText().contains("Com port error"));
    EXPECT_EQ(ptt.process.state(), QProcess::Running);
}

TEST(Faults, ABusyOrForbiddenDeviceIsNamedAndNeverKeyed)
{
    Sandbox sandbox;
    Radio radio(sandbox.path(QStringLiteral("radio")));
    sandbox.writeSettings(devicesFor(sandbox));
    {
        // Another program has the radio.
        torvak::QtSerialDevice holder;
        ASSERT_TRUE(holder.open(sandbox.path(QStringLiteral("radio")).toStdString(), {}));
        Program ptt(sandbox);
        EXPECT_TRUE(ptt.says("the device is busy")) << ptt.stderrText().constData();
        EXPECT_EQ(torvakfunc({QStringLiteral("tx")}), 0);
        EXPECT_TRUE(ptt.says("frame not sent"));
        EXPECT_TRUE(radio.waitLines(1, 300).isEmpty());
        EXPECT_EQ(torvakfunc({QStringLiteral("close")}), 0);
        EXPECT_TRUE(ptt.process.waitForFinished(5000));
    }
    // A device this user may not open.
    Program::Options options;
    if (::geteuid() == 0) {
        handOverToNobody(sandbox);
        options.runAs = kAsNobody;
    } else {
        ::chmod(QFile::encodeName(radio.device).constData(), 0);
    }
    Program ptt(sandbox, options);
    EXPECT_TRUE(ptt.says("permission denied: is the user in the dialout group?")) << ptt.stderrText().constData();
    EXPECT_EQ(torvakfunc({QStringLiteral("tx")}, nullptr, options.runAs), 0);
    EXPECT_TRUE(ptt.says("frame not sent"));
    EXPECT_TRUE(radio.waitLines(1, 300).isEmpty());
}

TEST(Faults, ABrokenSettingsFileNeverStopsTheRadio)
{
    Sandbox sandbox;
    Radio radio(sandbox.path(QStringLiteral("radio")));

    // Garbage around a usable mapping: what can be read is used.
    QByteArray garbage = devicesFor(sandbox) + "[Com]\nComPort=\x01\xff\nSettings=\"9600,n,8,1\n[Win\nTop==\n";
    std::mt19937 rng(7);
    for (int i = 0; i < 300; ++i)
        garbage += static_cast<char>(rng() % 256);
    sandbox.writeSettings(garbage);
    {
        Program ptt(sandbox);
        EXPECT_EQ(torvakfunc({QStringLiteral("tx")}), 0);
        EXPECT_EQ(radio.waitLines(1), kTx);
        EXPECT_EQ(torvakfunc({QStringLiteral("close")}), 0);
        ASSERT_TRUE(ptt.process.waitForFinished(5000));
        EXPECT_EQ(ptt.process.exitCode(), 0);
    }
    // A settings "file" that cannot be read or written at all: the defaults.
    QFile::remove(sandbox.settingsPath());
    QDir().mkpath(sandbox.settingsPath());
    {
        Program ptt(sandbox);
        EXPECT_TRUE(ptt.says("cannot read the settings file")) << ptt.stderrText().constData();
        EXPECT_EQ(torvakfunc({QStringLiteral("close")}), 0);
        ASSERT_TRUE(ptt.process.waitForFinished(5000));
        EXPECT_EQ(ptt.process.exitCode(), 0);
    }
}

TEST(Faults, AnUnwritableSettingsFileIsReportedWhenAnOptionChanges)
{
    if (needsDisplay())
        GTEST_SKIP() << "needs an X server with a window manager (scripts/with-x)";
    Sandbox sandbox;
    Radio radio(sandbox.path(QStringLiteral("radio")));
    sandbox.writeSettings(devicesFor(sandbox));
    Program::Options options = onScreen();
    if (::geteuid() == 0) {
        handOverToNobody(sandbox);
        ::chmod(QFile::encodeName(sandbox.path(QStringLiteral("radio"))).constData(), 0777);
        ::chmod(QFile::encodeName(radio.device).constData(), 0666);
        EXPECT_EQ(::chown(QFile::encodeName(sandbox.configDir()).constData(), 0, 0), 0); // nobody may not write here
        ::chmod(QFile::encodeName(sandbox.configDir()).constData(), 0755);
        options.runAs = kAsNobody;
    } else {
        ::chmod(QFile::encodeName(sandbox.configDir()).constData(), 0555);
    }
    ::chmod(QFile::encodeName(sandbox.settingsPath()).constData(), 0444);
    Program ptt(sandbox, options);
    const QString window = findWindow();
    ASSERT_FALSE(window.isEmpty());
    clickAt(window, 39, 84);  // More>>
    clickAt(window, 228, 88); // Top
    EXPECT_TRUE(ptt.says("The option was not saved")) << ptt.stderrText().constData();
    EXPECT_EQ(torvakfunc({QStringLiteral("tx")}, nullptr, options.runAs), 0);
    EXPECT_EQ(radio.waitLines(1), kTx);
    ::chmod(QFile::encodeName(sandbox.configDir()).constData(), 0755);
}

TEST(Faults, AnUnfitRuntimeDirectoryGetsNoSocket)
{
    Sandbox sandbox;
    Radio radio(sandbox.path(QStringLiteral("radio")));
    sandbox.writeSettings(devicesFor(sandbox));
    const QString socket = sandbox.runtimeDir() + QStringLiteral("/TORVAKFUNC");

    ::chmod(QFile::encodeName(sandbox.runtimeDir()).constData(), 0777);
    {
        Program ptt(sandbox, noLink());
        EXPECT_TRUE(ptt.says("open to other users")) << ptt.stderrText().constData();
        EXPECT_FALSE(QFile::exists(socket));
        EXPECT_EQ(ptt.process.state(), QProcess::Running) << "the lamp still works";
        QString err;
        EXPECT_EQ(torvakfunc({QStringLiteral("tx")}, &err), 1);
        EXPECT_TRUE(err.contains(QStringLiteral("open to other users"))) << err.toStdString();
    }
    ::chmod(QFile::encodeName(sandbox.runtimeDir()).constData(), 0700);
    if (::geteuid() == 0) {
        EXPECT_EQ(::chown(QFile::encodeName(sandbox.runtimeDir()).constData(), 65534, 65534), 0);
        Program ptt(sandbox, noLink());
        EXPECT_TRUE(ptt.says("belongs to another user")) << ptt.stderrText().constData();
        EXPECT_FALSE(QFile::exists(socket));
        EXPECT_EQ(::chown(QFile::encodeName(sandbox.runtimeDir()).constData(), 0, 0), 0);
    }
    // A missing one is made by Qt, private to this user, or refused: either
    // way no socket is ever open to others.
    QDir(sandbox.runtimeDir()).removeRecursively();
    Program ptt(sandbox, noLink());
    const bool refused = ptt.says("does not exist", 1000);
    struct stat st {};
    if (!refused) {
        ASSERT_EQ(::stat(QFile::encodeName(sandbox.runtimeDir()).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 077, 0u);
        EXPECT_EQ(st.st_uid, ::geteuid());
    }
    EXPECT_TRUE(radio.waitLines(1, 200).isEmpty());
}

TEST(Faults, StalledSendersHoldNobodyUp)
{
    Sandbox sandbox;
    Radio radio(sandbox.path(QStringLiteral("radio")));
    sandbox.writeSettings(devicesFor(sandbox));
    Program ptt(sandbox);
    const int silent = rawConnection(sandbox);
    const int stalled = rawConnection(sandbox);
    ASSERT_EQ(::write(stalled, "\x00", 1), 1);
    EXPECT_EQ(torvakfunc({QStringLiteral("tx")}), 0);
    EXPECT_EQ(torvakfunc({QStringLiteral("rx")}), 0);
    EXPECT_EQ(radio.waitLines(2), (QStringList{QStringLiteral("TX"), QStringLiteral("RX")}));
    ::close(silent);
    ::close(stalled);
    EXPECT_TRUE(ptt.says("dropped"));
    EXPECT_TRUE(radio.waitLines(3, 200).size() == 2) << "the stalled byte never became a command";
}
