// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The frames on a wire as a CI-V radio takes them, each with the offset of
// its first byte: "T" and "R" for our PTT frames, "?" for any other PTT
// frame, "q" and the command byte ("q03") for anything else. A frame cut
// short by the next preamble is dropped, as the radio drops it.
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace torvak::test {

inline std::vector<std::pair<std::string, std::size_t>> framesOn(std::span<const std::uint8_t> wire)
{
    std::vector<std::pair<std::string, std::size_t>> frames;
    for (std::size_t at = 0, end; at + 4 < wire.size(); at = end) {
        for (end = at + 2; end < wire.size() && wire[end] != 0xFD && wire[end] != 0xFE; ++end) {
        }
        if (wire[at] != 0xFE || wire[at + 1] != 0xFE || end == wire.size() || wire[end] == 0xFE || end - at < 5) {
            end = wire[at] == 0xFE && wire[at + 1] == 0xFE ? end : at + 1;
            continue;
        }
        const bool ours = end - at == 6 && wire[at + 2] == 0x04 && wire[at + 3] == 0xE0 && (wire[at + 5] == 1 || wire[at + 5] == 2);
        char name[4];
        std::snprintf(name, sizeof name, "q%02X", wire[at + 4]);
        frames.emplace_back(wire[at + 4] != 0x16 ? name : !ours ? "?" : wire[at + 5] == 1 ? "T" : "R", at);
        ++end;
    }
    return frames;
}

} // namespace torvak::test
