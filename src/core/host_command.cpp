// SPDX-License-Identifier: GPL-3.0-or-later
#include "host_command.h"

namespace torvak {

namespace {

void putLittleEndian(std::uint8_t* out, std::int32_t value)
{
    const auto u = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<std::uint8_t>(u >> (8 * i));
}

std::int32_t getLittleEndian(const std::uint8_t* in)
{
    std::uint32_t u = 0;
    for (int i = 0; i < 4; ++i)
        u |= static_cast<std::uint32_t>(in[i]) << (8 * i);
    return static_cast<std::int32_t>(u);
}

} // namespace

Record encodeRecord(const HostCommand& command)
{
    Record r{};
    putLittleEndian(r.data(), command.command);
    putLittleEndian(r.data() + 4, command.state);
    return r;
}

std::size_t RecordReader::feed(std::span<const std::uint8_t> bytes, const Sink& sink)
{
    std::size_t completed = 0;
    for (const std::uint8_t byte : bytes) {
        partial_[have_++] = byte;
        if (have_ < kRecordSize)
            continue;
        have_ = 0;
        ++completed;
        sink(HostCommand{getLittleEndian(partial_.data()), getLittleEndian(partial_.data() + 4)});
    }
    return completed;
}

} // namespace torvak
