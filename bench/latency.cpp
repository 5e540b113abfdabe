// SPDX-License-Identifier: GPL-3.0-or-later
// Host command to frame on the wire: 1000 alternating tx/rx commands through
// the socket, timed from the host's send to the whole frame at the pty master,
// interleaved with two floors: a small relay process that turns the same
// 8-byte record from a socket into the frame on its own pty, and the 7 bytes
// written straight into a pty.
#include "bench_support.h"
#include "core/ptt_frame.h"

#include <cstdio>
#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace torvak::bench;

namespace {

// The least a program doing this job must do: accept, read 8 bytes, write 7.
pid_t startRelay(const std::string& path, int pty)
{
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener, 1) != 0) {
        std::perror("relay");
        std::exit(1);
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::accept(listener, nullptr, nullptr);
        unsigned char record[8];
        while (::recv(fd, record, sizeof record, MSG_WAITALL) == sizeof record) {
            const torvak::Frame frame = torvak::pttFrame(record[4] == 1 ? torvak::PttState::Transmit : torvak::PttState::Receive);
            if (::write(pty, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size()))
                break;
        }
        ::_exit(0);
    }
    ::close(listener);
    return pid;
}

int connectTo(const std::string& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::perror("connect");
        std::exit(1);
    }
    return fd;
}


} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int kCommands = quick(argc, argv) ? 100 : 1000;
    Sandbox sandbox;
    Pty radio, relayed;
    sandbox.writeSettings(com1(radio.slavePath));
    Program program(sandbox);
    const int link = connectUnix(sandbox.socketPath());
    const std::string relayPath = sandbox.path(QStringLiteral("relay")).toStdString();
    const pid_t relay = startRelay(relayPath, relayed.slave);
    const int relayLink = connectTo(relayPath);

    std::vector<double> command, viaRelay, floor;
    const torvak::Frame& frame = torvak::kTransmitFrame;
    for (int i = 0; i < kCommands + 50; ++i) { // the first 50 warm up
        const int state = i % 2 == 0 ? 1 : 0;
        auto t0 = Clock::now();
        sendRecords(link, {{0, state}});
        if (radio.read(7).size() != 7) {
            std::fprintf(stderr, "frame %d did not arrive\n", i);
            return 1;
        }
        const double c = microsSince(t0);

        t0 = Clock::now();
        if (!sendRecords(relayLink, {{0, state}}) || relayed.read(7).size() != 7)
            return 1;
        const double r = microsSince(t0);

        t0 = Clock::now();
        if (::write(radio.slave, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size()) || radio.read(7).size() != 7)
            return 1;
        const double f = microsSince(t0);
        if (i >= 50) {
            command.push_back(c);
            viaRelay.push_back(r);
            floor.push_back(f);
        }
    }
    ::close(link);
    ::close(relayLink);
    ::waitpid(relay, nullptr, 0);

    std::printf("%d alternating tx/rx commands, interleaved\n", kCommands);
    const Figures c = figures(command), r = figures(viaRelay), f = figures(floor);
    printFigures("host command -> frame at the pty", c);
    printFigures("relay floor: socket -> pty", r);
    printFigures("floor: 7 bytes straight into pty", f);
    std::printf("over the relay floor: median %.2fx (goal <= 1.5x), p99 %.2fx (goal <= 2x)\n", c.median / r.median,
                c.p99 / r.p99);
    return exitStatus();
}
