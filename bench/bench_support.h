// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The benchmarks start the program, read the radio's pty, connect as a host
// and make Wine prefixes with the tests' own helpers (support/helpers.h);
// this adds only what figures need.
#include "support/helpers.h"

#include <chrono>
#include <string>
#include <vector>

namespace torvak::bench {

using namespace torvak::test;
using Clock = std::chrono::steady_clock;

// Settings that put COM1 on the device, and any more.
inline QByteArray com1(const QString& device, const QByteArray& more = {})
{
    return "[Devices]\nCOM1=" + device.toUtf8() + "\n" + more;
}


// CPU time a process has used, in seconds.
inline double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    const QList<QByteArray> fields = stat.open(QIODevice::ReadOnly) ? stat.readAll().split(' ') : QList<QByteArray>();
    return (fields.value(13).toDouble() + fields.value(14).toDouble()) / ::sysconf(_SC_CLK_TCK);
}

inline double microsSince(Clock::time_point t0) { return std::chrono::duration<double, std::micro>(Clock::now() - t0).count(); }

// --quick: a few seconds, to show the benchmark runs and measures (scripts/test).
bool quick(int argc, char* argv[]);

struct Figures {
    double min = 0, median = 0, p99 = 0, max = 0;
    std::size_t count = 0; // 0: nothing was measured
};
Figures figures(std::vector<double> samples);
// Prints the figures, or that they could not be measured (which the exit status then says).
void printFigures(const char* label, const Figures& f);
// A benchmark that did not measure what it names fails loudly.
void notMeasured(const std::string& what);
int exitStatus();

// A number from a /proc status file ("VmRSS" in KiB, say), 0 if absent.
long statusField(const std::string& file, const char* field);

} // namespace torvak::bench
