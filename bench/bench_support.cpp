// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace torvak::bench {

namespace {

bool failed = false;

} // namespace

bool quick(int argc, char* argv[])
{
    return std::any_of(argv + 1, argv + argc, [](const char* arg) { return std::string(arg) == "--quick"; });
}

Figures figures(std::vector<double> s)
{
    if (s.empty())
        return {};
    std::sort(s.begin(), s.end());
    const auto at = [&](double q) { return s[std::min(s.size() - 1, static_cast<std::size_t>(q * s.size()))]; };
    return {s.front(), at(0.5), at(0.99), s.back(), s.size()};
}

void printFigures(const char* label, const Figures& f)
{
    if (f.count == 0)
        return notMeasured(std::string(label) + ": no sample");
    std::printf("%-34s min %8.1f  median %8.1f  p99 %8.1f  max %8.1f  (us)\n", label, f.min, f.median,
                f.p99, f.max);
}

void notMeasured(const std::string& what)
{
    std::printf("NOT MEASURED: %s\n", what.c_str());
    std::fflush(stdout);
    failed = true;
}

int exitStatus() { return failed ? 1 : 0; }

long statusField(const std::string& file, const char* field)
{
    std::ifstream in(file);
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(in, line))
        if (line.rfind(prefix, 0) == 0)
            return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
    return 0;
}

} // namespace torvak::bench
