// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace torvak {

// torvak-ptt --check: opens the configured port as the program does, asks the
// radio its frequency (never a PTT frame), and says in plain lines what it
// found and what to check. 0 when the radio answered.
int checkRadio();

} // namespace torvak
