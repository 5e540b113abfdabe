// SPDX-License-Identifier: GPL-3.0-or-later
#include "line_settings.h"

#include "core/text.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace torvak {

namespace {

// The termios rates a Linux serial driver knows by name, 110 baud upwards.
constexpr std::array kStandardRates{110,    134,    150,    200,    300,    600,    1200,
                                    1800,   2400,   4800,   9600,   19200,  38400,  57600,
                                    115200, 230400, 460800, 500000, 576000, 921600};

std::optional<Parity> parityLetter(std::string_view s)
{
    if (s.size() != 1)
        return std::nullopt;
    switch (s.front()) {
    case 'n': case 'N': return Parity::None;
    case 'e': case 'E': return Parity::Even;
    case 'o': case 'O': return Parity::Odd;
    case 'm': case 'M': return Parity::Mark;
    case 's': case 'S': return Parity::Space;
    default: return std::nullopt;
    }
}

} // namespace

std::optional<LineSettings> parseLineSettings(std::string_view text)
{
    std::array<std::string_view, 4> fields;
    std::size_t count = 0;
    while (true) {
        const std::size_t comma = text.find(',');
        if (count == fields.size())
            return std::nullopt; // a fifth field
        fields[count++] = trimmed(text.substr(0, comma));
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    if (count != fields.size())
        return std::nullopt;

    const auto baud = wholeNumber<int>(fields[0]);
    const auto parity = parityLetter(fields[1]);
    const auto dataBits = wholeNumber<int>(fields[2]);
    const auto stopBits = wholeNumber<int>(fields[3]);
    if (!baud || std::find(kStandardRates.begin(), kStandardRates.end(), *baud) == kStandardRates.end())
        return std::nullopt;
    if (!parity || !dataBits || *dataBits < 5 || *dataBits > 8)
        return std::nullopt;
    if (!stopBits || (*stopBits != 1 && *stopBits != 2))
        return std::nullopt;
    return LineSettings{*baud, *parity, *dataBits, *stopBits};
}

int answerDeadline(const LineSettings& line, int bytes)
{
    const int bitsPerByte = 1 + line.dataBits + (line.parity == Parity::None ? 0 : 1) + line.stopBits;
    return bytes * bitsPerByte * 1000 / line.baud + 250;
}

} // namespace torvak
