// SPDX-License-Identifier: GPL-3.0-or-later
// What a radio flooding noise costs: 500 kB/s of bytes that make no CI-V frame
// written into the radio's pty for 5 s, against the CPU time torvak-ptt takes
// meanwhile (from /proc), and a transmit sent in the middle of it.
#include "bench_support.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

using namespace torvak::bench;

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const double kSeconds = quick(argc, argv) ? 1 : 5, kBytesPerSecond = 500e3;
    Sandbox sandbox;
    Pty radio;
    sandbox.writeSettings(com1(radio.slavePath));
    Program program(sandbox);
    const int link = connectUnix(sandbox.socketPath());
    ::fcntl(radio.master, F_SETFL, ::fcntl(radio.master, F_GETFL) | O_NONBLOCK);

    unsigned char noise[5000];
    for (std::size_t i = 0; i < sizeof noise; ++i)
        noise[i] = static_cast<unsigned char>(0x13 + i % 200); // never a preamble or an end byte
    const double before = cpuSeconds(program.process.processId());
    const auto start = Clock::now();
    double written = 0;
    bool keyed = false;
    while (std::chrono::duration<double>(Clock::now() - start).count() < kSeconds) {
        const double due = std::chrono::duration<double>(Clock::now() - start).count() * kBytesPerSecond;
        while (written + sizeof noise <= due) {
            const ssize_t n = ::write(radio.master, noise, sizeof noise);
            written += n > 0 ? static_cast<double>(n) : static_cast<double>(sizeof noise); // the line drops what it cannot take
        }
        if (!keyed && written > kBytesPerSecond * kSeconds / 2)
            keyed = sendRecords(link, {{0, 1}});
        unsigned char drain[4096];
        while (::read(radio.master, drain, sizeof drain) > 0) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const double used = cpuSeconds(program.process.processId()) - before;
    ::close(link);
    // The figure is of noise the program read: what the radio sent is gone from the line.
    if (!QTest::qWaitFor([&] { return radio.unread() == 0; }, 2000))
        notMeasured(std::to_string(radio.unread()) + " bytes of noise were never read by torvak-ptt");
    if (!keyed)
        notMeasured("the transmit sent amid the noise");
    std::printf("%.0f kB/s of noise for %.0f s: torvak-ptt used %.2f s of CPU, %.1f %% of a core (goal < 20 %%)\n",
                written / kSeconds / 1e3, kSeconds, used, 100 * used / kSeconds);
    return exitStatus();
}
