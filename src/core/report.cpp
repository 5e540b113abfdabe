// SPDX-License-Identifier: GPL-3.0-or-later
#include "report.h"

#include <cstdio>
#include <string>

namespace torvak {

void report(std::string_view what)
{
    // One write per line, so lines from a busy program never interleave.
    std::string line = "torvak-ptt: ";
    line.append(what);
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

} // namespace torvak
