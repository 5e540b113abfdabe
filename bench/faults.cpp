// SPDX-License-Identifier: GPL-3.0-or-later
// The radio under faults, in figures:
//  - a stall: the radio stops reading while a host floods alternating commands
//    ending on receive; how many stale frames still reach the line once it
//    reads again, and how soon the final receive arrives;
//  - a replug: the radio is unplugged while transmitting and a receive is
//    sent; how soon after the device reappears the receive reaches it.
#include "bench_support.h"

#include "core/host_command.h"
#include "core/ptt_frame.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>

#include <poll.h>
#include <unistd.h>

using namespace torvak::bench;

namespace {

const std::string kRx(reinterpret_cast<const char*>(torvak::kReceiveFrame.data()), torvak::kReceiveFrame.size());

// Waits (up to 2 s) until the program holds the device open, or no longer does.
bool waitForHolding(pid_t program, const std::string& device, bool held)
{
    for (int i = 0; i < 400; ++i) {
        bool holds = false;
        for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(program) + "/fd")) {
            std::error_code error;
            holds = holds || std::filesystem::read_symlink(fd.path(), error) == device;
        }
        if (holds == held)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// Everything the line holds, read until it stays quiet; when the receive
// frame last arrived, from `since`.
std::string readAll(Pty& radio, Clock::time_point since, double& lastRxMs)
{
    std::string got;
    for (QByteArray chunk; !(chunk = radio.read(1, 300)).isEmpty();) {
        got += chunk.toStdString();
        if (got.size() >= 7 && got.compare(got.size() - 7, 7, kRx) == 0)
            lastRxMs = std::chrono::duration<double, std::milli>(Clock::now() - since).count();
    }
    return got;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    Sandbox sandbox;
    const std::string device = sandbox.path(QStringLiteral("radio")).toStdString();
    auto radio = std::make_unique<Pty>();
    if (::symlink(radio->slavePath.toLocal8Bit().constData(), device.c_str()) != 0) {
        std::perror("symlink");
        return 1;
    }
    sandbox.writeSettings(com1(QString::fromStdString(device)));
    Program program(sandbox);
    const int link = connectUnix(sandbox.socketPath());
    const bool fast = quick(argc, argv);
    const int commands = fast ? 3000 : 30000;

    std::printf("stall: the radio stops reading while %d alternating commands arrive, the last a receive\n", commands);
    for (int round = 0; round < (fast ? 1 : 3); ++round) {
        QByteArray burst;
        for (int i = 0; i < commands; ++i)
            burst += records({{0, i == commands - 1 ? 0 : i % 2}});
        if (!sendAll(link, burst))
            return 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(1500)); // all carried out meanwhile
        double rxMs = -1;
        const std::string line = readAll(*radio, Clock::now(), rxMs);
        const bool endsOnRx = line.size() >= 7 && line.compare(line.size() - 7, 7, kRx) == 0;
        std::printf("  %6zu frames reached the line after the stall (of %d commands); "
                    "it ends on %s; the receive arrived %.2f ms after reading resumed\n",
                    line.size() / 7, commands, endsOnRx ? "the receive" : "SOMETHING ELSE", rxMs);
        if (!endsOnRx)
            notMeasured("the line did not end on the last command, a receive");
    }

    std::vector<double> replug;
    const char* failed = nullptr;
    for (int round = 0; round < (fast ? 3 : 20) && !failed; ++round) {
        sendRecords(link, {{0, 1}});
        radio->read(7);
        const std::string pty = radio->slavePath.toStdString();
        radio.reset();
        ::unlink(device.c_str());
        if (!waitForHolding(static_cast<pid_t>(program.process.processId()), pty, false)) {
            failed = "the program did not notice the unplug";
            break;
        }
        sendRecords(link, {{0, 0}}); // held until the device is back
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        radio = std::make_unique<Pty>();
        const auto t0 = Clock::now();
        if (::symlink(radio->slavePath.toLocal8Bit().constData(), device.c_str()) != 0 || radio->read(7).size() != 7) {
            failed = "the pending receive did not arrive after the replug";
            break;
        }
        replug.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    ::close(link);
    if (failed) {
        std::fprintf(stderr, "replug: %s\n", failed);
        return 1;
    }
    std::printf("replug: unplugged while transmitting, a receive sent meanwhile (%zu rounds)\n", replug.size());
    printFigures("  device back -> pending receive", figures(replug));
    return exitStatus();
}
