// SPDX-License-Identifier: GPL-3.0-or-later
// The transmitter-safety rule against the real programs: whatever way the
// program ends, however hard the host link is pressed, and when the radio is
// unplugged, the radio ends in the state the host last asked for.
#include "core/host_command.h"
#include "e2e_support.h"

#include <QDir>

#include <csignal>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace torvak::test;
using namespace torvak::e2e;

namespace {

const QString kTx = QStringLiteral("TX"), kRx = QStringLiteral("RX");

// A host's connection, as any program would hold one.
int host(const Sandbox& sandbox)
{
    return connectUnix(sandbox.runtimeDir() + QStringLiteral("/TORVAKFUNC"));
}

bool send(int fd, std::int32_t command, std::int32_t state)
{
    const torvak::Record r = torvak::encodeRecord({command, state});
    return ::write(fd, r.data(), r.size()) == 8;
}

} // namespace

TEST(Safety, EveryWayOutLetsTheLastReceiveReachTheRadio)
{
    Sandbox sandbox;
    Radio radio(sandbox.path(QStringLiteral("radio")));
    sandbox.writeSettings(devicesFor(sandbox));
    const QString socket = sandbox.runtimeDir() + QStringLiteral("/TORVAKFUNC");

    // A receive on one connection and the close on another, back to back.
    for (int round = 0; round < 5; ++round) {
        radio.lines.clear();
        Program ptt(sandbox);
        const int keyer = host(sandbox), closer = host(sandbox);
        ASSERT_TRUE(send(keyer, 0, 1));
        ASSERT_EQ(radio.waitLines(1), QStringList{kTx});
        ASSERT_TRUE(send(keyer, 0, 0) && send(closer, 1, 0));
        ASSERT_TRUE(ptt.process.waitForFinished(5000));
        EXPECT_EQ(ptt.process.exitCode(), 0);
        EXPECT_EQ(radio.waitLines(2), (QStringList{kTx, kRx})) << "round " << round;
        ::close(keyer);
        ::close(closer);
    }

    // Logout, Ctrl-C, a closed terminal: shut down as the window's close does,
    // with no receive frame, and saying the radio was left keyed.
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        radio.lines.clear();
        Program ptt(sandbox);
        EXPECT_EQ(torvakfunc({QStringLiteral("tx")}), 0);
        ASSERT_EQ(radio.waitLines(1), QStringList{kTx});
        ::kill(static_cast<pid_t>(ptt.process.processId()), signal);
        ASSERT_TRUE(ptt.process.waitForFinished(5000)) << signal;
        EXPECT_EQ(ptt.process.exitStatus(), QProcess::NormalExit) << signal;
        EXPECT_EQ(ptt.process.exitCode(), 0) << signal;
        EXPECT_TRUE(ptt.stderrText().contains("left keyed")) << signal;
        EXPECT_FALSE(QFile::exists(socket)) << signal;
        EXPECT_EQ(radio.waitLines(2, 300), QStringList{kTx}) << signal;
    }

    // Whatever read its stderr went away: the next message does not end it.
    Program ptt(sandbox);
    ptt.process.closeReadChannel(QProcess::StandardError);
    EXPECT_EQ(torvakfunc({QStringLiteral("0"), QStringLiteral("1")}), 0);
    radio.process.terminate(); // unplugged: what follows is all reported on stderr
    for (int i = 0; i < 20; ++i)
        torvakfunc({QStringLiteral("tx")});
    settle(200);
    EXPECT_EQ(ptt.process.state(), QProcess::Running);
    EXPECT_EQ(torvakfunc({QStringLiteral("close")}), 0);
    ASSERT_TRUE(ptt.process.waitForFinished(5000));
    EXPECT_EQ(ptt.process.exitCode(), 0);
}

TEST(Safety, TheHostLinkHoldsUnderPressure)
{
    Sandbox sandbox;
    Radio radio(sandbox.path(QStringLiteral("radio")));
    sandbox.writeSettings(devicesFor(sandbox));
    const QString socket = sandbox.runtimeDir() + QStringLiteral("/TORVAKFUNC");
#ifndef __SANITIZE_ADDRESS__
    // (Not under the sanitizers: their checks probe memory through a pipe, so
    // a program out of descriptors gets false reports from them.)
    {
        // Out of descriptors: it keeps listening and serving open connections.
        Program::Options tight;
        tight.runAs = {QStringLiteral("prlimit"), QStringLiteral("--nofile=48:48"), QStringLiteral("--")};
        Program ptt(sandbox, tight);
        const int early = host(sandbox);
        std::vector<int> idle;
        for (int i = 0; i < 80; ++i)
            idle.push_back(host(sandbox));
        EXPECT_TRUE(ptt.says("out of file descriptors")) << ptt.stderrText().constData();
        ASSERT_TRUE(send(early, 0, 1));
        EXPECT_EQ(radio.waitLines(1), QStringList{kTx});
        EXPECT_TRUE(QFile::exists(socket));
        // The last host waited in the listen queue: it is served once the
        // others leave and descriptors free up.
        for (std::size_t i = 0; i + 1 < idle.size(); ++i)
            ::close(idle[i]);
        EXPECT_TRUE(send(idle.back(), 0, 0));
        EXPECT_EQ(radio.waitLines(2), (QStringList{kTx, kRx}));
        EXPECT_EQ(ptt.stderrText().count("out of file descriptors"), 1);
        ::close(idle.back());
        ::close(early);
        EXPECT_EQ(torvakfunc({QStringLiteral("close")}), 0);
        EXPECT_TRUE(ptt.process.waitForFinished(5000));
    }
#endif
    {
        // Stopped with a full listen queue: the host is told it is busy, not an
        // unknown error, and nothing of the queue is lost once it goes on.
        Program ptt(sandbox);
        ::kill(static_cast<pid_t>(ptt.process.processId()), SIGSTOP);
        std::vector<int> waiting;
        for (int i = 0; i < 200; ++i) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
            sockaddr_un addr {};
            addr.sun_family = AF_UNIX;
            const QByteArray path = QFile::encodeName(socket);
            std::memcpy(addr.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
            if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
                ::close(fd);
                break;
            }
            waiting.push_back(fd);
        }
        QString err;
        EXPECT_EQ(torvakfunc({QStringLiteral("tx")}, &err), 1);
        EXPECT_TRUE(err.contains(QStringLiteral("too busy"))) << waiting.size() << " waiting: " << err.toStdString();
        ::kill(static_cast<pid_t>(ptt.process.processId()), SIGCONT);
        for (int fd : waiting)
            ::close(fd);
        EXPECT_TRUE(QFile::exists(socket)) << "a busy instance keeps its socket";
        EXPECT_EQ(torvakfunc({QStringLiteral("close")}, &err), 0) << err.toStdString();
        EXPECT_TRUE(ptt.process.waitForFinished(5000));
    }

    // Started together, exactly one instance owns socket and port.
    for (int round = 0; round < 5; ++round) {
        radio.lines.clear();
        Program::Options bare;
        bare.expectLink = false;
        Program a(sandbox, bare), b(sandbox, bare);
        const bool aLeft = waitUntil([&] { return a.process.state() == QProcess::NotRunning
                                                  || b.process.state() == QProcess::NotRunning; }, 5000);
        ASSERT_TRUE(aLeft) << "round " << round << ": both stayed";
        Program& loser = a.process.state() == QProcess::NotRunning ? a : b;
        Program& winner = &loser == &a ? b : a;
        EXPECT_EQ(loser.process.exitCode(), 1);
        EXPECT_TRUE(loser.stderrText().contains("torvak-ptt is already running.")) << loser.stderrText().constData();
        EXPECT_EQ(winner.process.state(), QProcess::Running);
        EXPECT_TRUE(waitUntil([&] { return QFile::exists(socket); }));
        EXPECT_EQ(torvakfunc({QStringLiteral("tx")}), 0);
        EXPECT_EQ(radio.waitLines(1), QStringList{kTx}) << "round " << round;
        EXPECT_EQ(torvakfunc({QStringLiteral("close")}), 0);
        EXPECT_TRUE(winner.process.waitForFinished(5000));
    }

    // Nobody there: the sender says what it found. A file in the way of the
    // simulated radio's link is left alone.
    QString err;
    EXPECT_EQ(torvakfunc({QStringLiteral("tx")}, &err), 1);
    EXPECT_TRUE(err.contains(QStringLiteral("no socket at"))) << err.toStdString();
    QFile notes(socket);
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write("notes");
    notes.close();
    QProcess sim;
    sim.start(bin("radio-sim"), {QStringLiteral("--link"), socket});
    ASSERT_TRUE(sim.waitForFinished(3000));
    EXPECT_EQ(sim.exitCode(), 1);
    EXPECT_EQ(QFile(socket).size(), 5) << "radio-sim left it alone";
}

TEST(Safety, AReplugReopensThePortAndSendsThePendingReceive)
{
    Sandbox sandbox;
    auto radio = std::make_unique<Radio>(sandbox.path(QStringLiteral("radio")));
    sandbox.writeSettings(devicesFor(sandbox));
    Program ptt(sandbox);
    EXPECT_EQ(torvakfunc({QStringLiteral("tx")}), 0);
    ASSERT_EQ(radio->waitLines(1), QStringList{kTx});

    radio.reset(); // unplugged while transmitting
    ASSERT_TRUE(ptt.says("went away"));
    EXPECT_EQ(torvakfunc({QStringLiteral("rx")}), 0);
    ASSERT_TRUE(ptt.says("goes out as soon as the port can take it"));

    // Back at the same path: reopened by itself, and the receive goes out.
    radio = std::make_unique<Radio>(sandbox.path(QStringLiteral("radio")));
    EXPECT_EQ(radio->waitLines(1), QStringList{kRx});
    EXPECT_TRUE(ptt.says("open again"));

    // A transmit sent while unplugged is dropped, never sent late.
    radio.reset();
    ASSERT_TRUE(ptt.says("went away"));
    EXPECT_EQ(torvakfunc({QStringLiteral("tx")}), 0);
    ASSERT_TRUE(ptt.says("the transmit was dropped"));
    radio = std::make_unique<Radio>(sandbox.path(QStringLiteral("radio")));
    EXPECT_TRUE(waitUntil([&] { return ptt.stderrText().count("open again") == 2; }));
    EXPECT_TRUE(radio->waitLines(1, 300).isEmpty());
    EXPECT_EQ(torvakfunc({QStringLiteral("close")}), 0);
    EXPECT_TRUE(ptt.process.waitForFinished(5000));
}
