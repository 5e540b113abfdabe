// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The benchmarks start the program, read the radio's pty, connect as a host
// and make Wine prefixes with the tests' own helpers (support/helpers.h);
// this adds only what figures need.
#include "support/helpers.h"

#include <chrono>
#include <vector>

namespace torvak::bench {

using namespace torvak::test;
using Clock = std::chrono::steady_clock;

// Settings that put COM1 on the device, and any more.
inline QByteArray com1(const QString& device, const QByteArray& more = {})
{
    return "[Devices]\nCOM1=" + device.toUtf8() + "\n" + more;
}

inline bool sendRecord(int fd, int command, int state)
{
    const QByteArray r = records({{command, state}});
    return ::write(fd, r.constData(), r.size()) == r.size();
}

inline double microsSince(Clock::time_point t0) { return std::chrono::duration<double, std::micro>(Clock::now() - t0).count(); }

struct Figures {
    double min, median, p99, max;
};
Figures figures(std::vector<double> samples);
void printFigures(const char* label, const Figures& f);

// A number from a /proc status file ("VmRSS" in KiB, say), 0 if absent.
long statusField(const std::string& file, const char* field);

} // namespace torvak::bench
