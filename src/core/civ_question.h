// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

namespace torvak {

// A question or an order for the radio besides PTT (read or set the
// frequency, the mode, the VFO, split): FE FE 04 E0, the command, its data, FD.
std::vector<std::uint8_t> civQuestion(std::uint8_t command, std::initializer_list<std::uint8_t> data = {});

// A frequency in Hz as the radio takes it: ten digits of BCD, lowest first.
// Nothing for one of more than ten digits.
std::optional<std::array<std::uint8_t, 5>> bcdFrequency(std::uint64_t hertz);

// What the radio made of a question.
struct CivReply {
    enum class Kind {
        Data, // its answer, in frame
        Done, // FB
        Refused, // FA
        Timeout, // nothing by the deadline, or the line is not taking bytes
        NotOpen, // the port is closed
        Busy, // too many questions wait already
    };
    Kind kind = Kind::Timeout;
    std::vector<std::uint8_t> frame; // preambles to end byte
};

} // namespace torvak
