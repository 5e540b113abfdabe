// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string_view>

namespace torvak {

enum class Parity { None, Even, Odd, Mark, Space };

// The line settings of the radio port: "baud,parity,data bits,stop bits".
struct LineSettings {
    int baud = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    int stopBits = 1;
    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

// Parses "9600,n,8,1" and the like: a standard rate from 110 to 921600, a
// parity letter (n, e, o, m, s in either case), 5 to 8 data bits and 1 or 2
// stop bits; blanks around a field are fine. Anything else is rejected.
std::optional<LineSettings> parseLineSettings(std::string_view text);

// These many bytes on the wire at the line speed, and 250 ms for the radio
// (or the device) to answer: how long an answer, or a queue let out, may take.
int answerDeadline(const LineSettings& line, int bytes);

} // namespace torvak
