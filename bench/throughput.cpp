// SPDX-License-Identifier: GPL-3.0-or-later
// Records per second carried out through the socket, from one sender and
// from 20, beside the floor of writing the same frames straight into the pty;
// and host-command-to-frame latency while another sender floods. (What a
// radio that stops reading costs is in bench-faults.)
#include "bench_support.h"
#include "core/ptt_frame.h"

#include "core/host_command.h"

#include <atomic>
#include <cstdio>
#include <thread>

#include <poll.h>
#include <unistd.h>

using namespace torvak::bench;

namespace {

const torvak::Frame& kTx = torvak::kTransmitFrame;

// Reads the radio's line until `frames` whole frames have come or it stays quiet.
long drainFrames(Pty& radio, long frames, std::chrono::milliseconds quiet)
{
    long bytes = 0;
    for (QByteArray chunk; bytes < frames * 7 && !(chunk = radio.read(1, static_cast<int>(quiet.count()))).isEmpty();)
        bytes += chunk.size();
    return bytes / 7;
}

QByteArray stream(int count, int command)
{
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += records({{command, i % 2}});
    return out;
}

// Records per second from `senders` connections of `each` keying records,
// the radio reading as fast as it can.
double carriedOut(const Sandbox& sandbox, Pty& radio, int senders, int each, int& refused)
{
    std::vector<int> fds;
    for (int i = 0; i < senders; ++i)
        fds.push_back(connectUnix(sandbox.socketPath()));
    const QByteArray bytes = stream(each, 0);
    const auto t0 = Clock::now();
    std::vector<std::thread> threads;
    for (int fd : fds)
        threads.emplace_back([fd, &bytes] { sendAll(fd, bytes); });
    const long total = static_cast<long>(senders) * each;
    const long frames = drainFrames(radio, total, std::chrono::milliseconds(1000));
    const auto t1 = Clock::now();
    for (auto& t : threads)
        t.join();
    for (int fd : fds)
        ::close(fd);
    refused = static_cast<int>(total - frames); // each record is a PTT command: one that made no frame was refused
    const double seconds = std::chrono::duration<double>(t1 - t0).count()
        - (frames < total ? 1.0 : 0.0); // the quiet second that ended a short run
    return frames / seconds;
}

double floorFramesPerSecond(Pty& radio, int frames)
{
    const auto t0 = Clock::now();
    std::thread writer([&] {
        for (int i = 0; i < frames; ++i)
            if (::write(radio.slave, kTx.data(), kTx.size()) != static_cast<ssize_t>(kTx.size()))
                return;
    });
    const long got = drainFrames(radio, frames, std::chrono::milliseconds(1000));
    const auto t1 = Clock::now();
    writer.join();
    return got / std::chrono::duration<double>(t1 - t0).count();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    Sandbox sandbox;
    Pty radio;
    sandbox.writeSettings(com1(radio.slavePath));
    Program program(sandbox);

    const int scale = quick(argc, argv) ? 10 : 1;
    int refused1 = 0, refused20 = 0;
    const double one = carriedOut(sandbox, radio, 1, 20000 / scale, refused1);
    const double twenty = carriedOut(sandbox, radio, 20, 1000 / scale, refused20);
    const double floor = floorFramesPerSecond(radio, 20000 / scale);
    std::printf("throughput, the radio reading as fast as it can:\n");
    std::printf("  1 sender,  %5d records: %9.0f records/s carried out (%d refused)\n", 20000 / scale, one, refused1);
    std::printf("  20 senders, %4d each:    %9.0f records/s carried out (%d refused)\n", 1000 / scale, twenty, refused20);
    if (one <= 0 || twenty <= 0)
        notMeasured("no frame reached the line");
    std::printf("  floor, frames straight into the pty: %9.0f frames/s\n", floor);

    // Latency of a probe sender while another floods the link with pairs the
    // program ignores (so the probe's frames are the only ones on the line).
    std::atomic<bool> flooding{true};
    const int flood = connectUnix(sandbox.socketPath());
    std::thread flooder([&] {
        const QByteArray bytes = stream(512, 7);
        while (flooding)
            sendAll(flood, bytes);
    });
    const int probe = connectUnix(sandbox.socketPath());
    std::vector<double> latency, floorLatency;
    const int probes = 1000 / scale;
    for (int i = 0; i < probes; ++i) {
        auto t0 = Clock::now();
        sendRecords(probe, {{0, i % 2}});
        if (radio.read(7).size() != 7)
            break;
        latency.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        t0 = Clock::now();
        if (::write(radio.slave, kTx.data(), kTx.size()) != static_cast<ssize_t>(kTx.size()) || radio.read(7).size() != 7)
            break;
        floorLatency.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    flooding = false;
    flooder.join();
    ::close(flood);
    ::close(probe);

    std::printf("latency while another sender floods (%zu probes):\n", latency.size());
    printFigures("  host command -> frame at the pty", figures(latency));
    printFigures("  floor: 7 bytes straight into pty", figures(floorLatency));
    if (latency.size() < static_cast<std::size_t>(probes))
        notMeasured("only " + std::to_string(latency.size()) + " of " + std::to_string(probes) + " probes reached the line");
    return exitStatus();
}
