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

namespace {

double cpuSeconds(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i == 14 || i == 15)
            ticks += std::stol(field);
    return static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

} // namespace

int main(int, char* argv[])
{
    constexpr double kSeconds = 5, kBytesPerSecond = 500e3;
    Sandbox sandbox;
    RadioPty radio;
    const pid_t program = startProgram(binDirOf(argv[0]), sandbox, radio.path);
    const int link = connectHostLink(sandbox);
    ::fcntl(radio.master, F_SETFL, ::fcntl(radio.master, F_GETFL) | O_NONBLOCK);

    unsigned char noise[5000];
    for (std::size_t i = 0; i < sizeof noise; ++i)
        noise[i] = static_cast<unsigned char>(0x13 + i % 200); // never a preamble or an end byte
    const double before = cpuSeconds(program);
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
            keyed = sendRecord(link, 0, 1);
        unsigned char drain[4096];
        while (::read(radio.master, drain, sizeof drain) > 0) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const double used = cpuSeconds(program) - before;
    ::close(link);
    stopProgram(program);
    std::printf("%.0f kB/s of noise for %.0f s: torvak-ptt used %.2f s of CPU, %.1f %% of a core (goal < 20 %%)\n",
                written / kSeconds / 1e3, kSeconds, used, 100 * used / kSeconds);
    return 0;
}
