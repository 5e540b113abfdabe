// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Small helpers the benchmarks share: a private sandbox for the program, a
// pty as the radio, a raw host-link client and percentile figures.
#include <chrono>
#include <string>
#include <vector>

#include <sys/types.h>

namespace torvak::bench {

using Clock = std::chrono::steady_clock;

struct Sandbox {
    std::string root, runtime, config;
    Sandbox();
    ~Sandbox();
};

// A pseudo-terminal whose master the benchmark reads as the radio.
struct RadioPty {
    int master = -1, slave = -1;
    std::string path;
    RadioPty();
    ~RadioPty();
    // Reads until `count` bytes have arrived (or 2 s pass); returns how many did.
    std::size_t readExactly(std::size_t count);
};

// Starts torvak-ptt from the benchmark's own directory, offscreen, with COM1
// on the given device and any more settings; waits for its host link.
pid_t startProgram(const std::string& binDir, const Sandbox& sandbox, const std::string& device,
                   const std::string& moreSettings = "");
void stopProgram(pid_t pid);

int connectHostLink(const Sandbox& sandbox);
bool sendRecord(int fd, int command, int state);

std::string binDirOf(const char* argv0);

struct Figures {
    double min, median, p99, max;
};
Figures figures(std::vector<double> samples);
void printFigures(const char* label, const Figures& f);

} // namespace torvak::bench
