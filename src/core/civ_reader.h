// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace torvak {

// What comes back from the radio's line, read as CI-V: the echo of our own
// frame (a one-wire bus echoes every byte sent), the radio's answer to us
// (from 04h to E0h: FB done, FA refused, or data), other traffic on the bus,
// or bytes that make no CI-V frame at all (most often a wrong line speed).
enum class Heard { Echo, Done, Refused, Data, Other, Noise };

// The frequency in Hz that a radio's frequency frame (03h, or the 00h it
// sends unasked) carries: five bytes of BCD, lowest digits first.
std::optional<std::uint64_t> frequencyOf(std::span<const std::uint8_t> frame);

// Reads CI-V frames from bytes that may arrive cut anywhere.
class CivReader {
public:
    // Hands what each completed frame (or run of noise) was to the sink.
    void feed(std::span<const std::uint8_t> bytes, const std::function<void(Heard)>& sink);
    // How much noise (stray bytes and broken frames) was read so far; a run
    // of it is told once, but counted all along.
    std::size_t noise() const { return noise_; }
    // While the sink hears of a frame: the frame, preambles to end byte.
    std::span<const std::uint8_t> frame() const { return frame_; }

private:
    void end(Heard heard, const std::function<void(Heard)>& sink);
    void noise(const std::function<void(Heard)>& sink);

    std::vector<std::uint8_t> frame_; // from the preamble on
    bool inNoise_ = false;
    std::size_t noise_ = 0;
};

} // namespace torvak
