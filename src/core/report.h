// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

namespace torvak {

// The program's one way to tell the operator something on stderr:
// "torvak-ptt: what". A reader that went away never ends the program.
void report(std::string_view what);

} // namespace torvak
