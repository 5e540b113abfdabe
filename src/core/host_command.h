// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace torvak {

// What the host application sends: a command word and a state word.
// (0,0) receive, (0,1) transmit, (1,any) close; everything else is ignored.
struct HostCommand {
    std::int32_t command = 0;
    std::int32_t state = 0;
    friend constexpr bool operator==(const HostCommand&, const HostCommand&) = default;
};

inline constexpr std::int32_t kCommandPtt = 0;
inline constexpr std::int32_t kCommandClose = 1;
inline constexpr std::int32_t kStateReceive = 0;
inline constexpr std::int32_t kStateTransmit = 1;

// On the host link each command is one record: command word then state word,
// each a signed 32-bit little-endian integer.
inline constexpr std::size_t kRecordSize = 8;
using Record = std::array<std::uint8_t, kRecordSize>;

Record encodeRecord(const HostCommand& command);

// Reassembles records from a byte stream that may arrive cut anywhere.
// Only complete records come out; a partial one waits for the rest.
class RecordReader {
public:
    using Sink = std::function<void(const HostCommand&)>;

    // Hands every record completed by these bytes to the sink, in order.
    // Returns how many records were completed.
    std::size_t feed(std::span<const std::uint8_t> bytes, const Sink& sink);

    // Bytes of a record still waiting for the rest (0 to 7).
    std::size_t pendingBytes() const { return have_; }

private:
    Record partial_{};
    std::size_t have_ = 0;
};

} // namespace torvak
