// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace torvak {

// The only message this program ever sends the radio: a CI-V "transmit/receive
// switch" command from the controller (E0) to the transceiver (04).
inline constexpr std::size_t kFrameSize = 7;
using Frame = std::array<std::uint8_t, kFrameSize>;

enum class PttState { Receive, Transmit };

constexpr Frame pttFrame(PttState state)
{
    return {0xFE, 0xFE, 0x04, 0xE0, 0x16,
            static_cast<std::uint8_t>(state == PttState::Transmit ? 0x01 : 0x02), 0xFD};
}

inline constexpr Frame kTransmitFrame = pttFrame(PttState::Transmit);
inline constexpr Frame kReceiveFrame = pttFrame(PttState::Receive);

// The lamp colour is the PTT state: there is no other record of it.
struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    friend constexpr bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr Rgb kReceiveGreen{0, 255, 0};
inline constexpr Rgb kTransmitRed{255, 0, 0};

} // namespace torvak
