// SPDX-License-Identifier: GPL-3.0-or-later
#include "civ_reader.h"

#include <utility>

namespace torvak {

namespace {

constexpr std::uint8_t kPreamble = 0xFE, kEnd = 0xFD, kRadio = 0x04, kController = 0xE0;
constexpr std::uint8_t kDone = 0xFB, kRefused = 0xFA;
// The longest frame a TenTec or Icom radio sends; past it, it is no frame.
constexpr std::size_t kLongestFrame = 64;

} // namespace

void CivReader::feed(std::span<const std::uint8_t> bytes, const std::function<void(Heard)>& sink)
{
    for (const std::uint8_t byte : bytes) {
        if (frame_.empty()) {
            if (byte == kPreamble)
                frame_.push_back(byte);
            else
                noise(sink);
            continue;
        }
        if (byte == kPreamble && frame_.size() <= 2) { // the second preamble, or a third some radios send
            frame_.resize(2, kPreamble);
            continue;
        }
        if (frame_.size() == 1 || byte == kPreamble) { // a lone preamble, or a frame cut by the next one
            end(Heard::Noise, sink);
            if (byte == kPreamble)
                frame_.push_back(byte);
            continue;
        }
        frame_.push_back(byte);
        if (byte == kEnd) {
            const bool framed = frame_.size() >= 6;
            const std::uint8_t to = frame_[2], from = frame_[3], command = frame_[4];
            if (!framed)
                end(Heard::Noise, sink);
            else if (to == kRadio && from == kController)
                end(Heard::Echo, sink);
            else if (to == kController && from == kRadio)
                end(command == kDone ? Heard::Done : command == kRefused ? Heard::Refused : Heard::Data, sink);
            else
                end(Heard::Other, sink);
        } else if (frame_.size() >= kLongestFrame) {
            end(Heard::Noise, sink);
        }
    }
}

void CivReader::end(Heard heard, const std::function<void(Heard)>& sink)
{
    if (heard == Heard::Noise) {
        frame_.clear();
        return noise(sink);
    }
    inNoise_ = false;
    sink(heard);
    frame_.clear();
}

std::optional<std::uint64_t> frequencyOf(std::span<const std::uint8_t> frame)
{
    if (frame.size() != 11 || (frame[4] != 0x03 && frame[4] != 0x00))
        return std::nullopt;
    std::uint64_t hertz = 0;
    for (std::size_t i = 9; i >= 5; --i) {
        const unsigned high = frame[i] >> 4, low = frame[i] & 0x0F;
        if (high > 9 || low > 9)
            return std::nullopt;
        hertz = hertz * 100 + high * 10 + low;
    }
    return hertz;
}

void CivReader::noise(const std::function<void(Heard)>& sink)
{
    ++noise_;
    if (!std::exchange(inNoise_, true))
        sink(Heard::Noise);
}

} // namespace torvak
