// SPDX-License-Identifier: GPL-3.0-or-later
#include "civ_question.h"

namespace torvak {

std::vector<std::uint8_t> civQuestion(std::uint8_t command, std::initializer_list<std::uint8_t> data)
{
    std::vector<std::uint8_t> frame;
    frame.reserve(data.size() + 6);
    for (const std::uint8_t byte : {std::uint8_t{0xFE}, std::uint8_t{0xFE}, std::uint8_t{0x04}, std::uint8_t{0xE0}, command})
        frame.push_back(byte);
    for (const std::uint8_t byte : data)
        frame.push_back(byte);
    frame.push_back(0xFD);
    return frame;
}

std::optional<std::array<std::uint8_t, 5>> bcdFrequency(std::uint64_t hertz)
{
    std::array<std::uint8_t, 5> bcd{};
    for (std::uint8_t& pair : bcd) {
        const auto low = static_cast<std::uint8_t>(hertz % 10), high = static_cast<std::uint8_t>(hertz / 10 % 10);
        pair = static_cast<std::uint8_t>(high << 4 | low);
        hertz /= 100;
    }
    if (hertz != 0)
        return std::nullopt;
    return bcd;
}

} // namespace torvak
