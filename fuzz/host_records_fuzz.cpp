// SPDX-License-Identifier: GPL-3.0-or-later
// The host link's records: byte streams from up to four connections, cut at
// arbitrary places and read in an arbitrary interleaving. Every record comes
// out of the one queue exactly once, in the order its last byte was read,
// and carrying them out puts only TX and RX frames on the port.
#include "core/command_queue.h"
#include "fuzz_checks.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <vector>

using namespace torvak;
using namespace torvak::fuzz;

namespace {

HostCommand recordAt(const std::vector<std::uint8_t>& stream, std::size_t at)
{
    HostCommand c;
    RecordReader whole;
    whole.feed({stream.data() + at, kRecordSize}, [&](const HostCommand& r) { c = r; });
    return c;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::size_t connections = input.ConsumeIntegralInRange<std::size_t>(1, 4);
    auto schedule = input.ConsumeIntegral<std::uint32_t>() | 1;
    const std::vector<std::uint8_t> bytes = input.ConsumeRemainingBytes<std::uint8_t>();

    // Each connection's stream is a slice of the bytes.
    std::array<std::vector<std::uint8_t>, 4> streams;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        streams[i * connections / std::max<std::size_t>(bytes.size(), 1)].push_back(bytes[i]);

    GuardedWire wire;
    PlainLamp lamp;
    std::size_t closes = 0;
    PttController controller(wire, lamp, [&] { ++closes; });
    CommandQueue queue(64);

    std::array<std::size_t, 4> fed{};
    std::vector<HostCommand> expected, got;
    const auto take = [&] {
        const auto c = queue.next();
        check(c.has_value(), "a record the queue said it held is missing");
        got.push_back(*c);
        controller.ptt(c->command, c->state);
    };
    const auto rng = [&] { return schedule ^= schedule << 13, schedule ^= schedule >> 17, schedule ^= schedule << 5; };
    for (std::size_t step = 0; step < 4 * bytes.size() + 8; ++step) {
        const std::size_t k = rng() % connections;
        // Read no more than the queue has room for, as the link does.
        const std::size_t n = std::min({std::size_t(rng() % 16), streams[k].size() - fed[k], queue.room()});
        queue.feed(static_cast<int>(k), {streams[k].data() + fed[k], n});
        // The model: every record this read completed, in stream order.
        for (std::size_t end = (fed[k] / kRecordSize + 1) * kRecordSize; end <= fed[k] + n; end += kRecordSize)
            expected.push_back(recordAt(streams[k], end - kRecordSize));
        fed[k] += n;
        check(queue.size() == expected.size() - got.size(), "the queue holds more or fewer records than were read");
        for (std::size_t pops = rng() % 3; pops > 0 && queue.size() > 0; --pops)
            take();
    }
    while (queue.size() > 0)
        take();
    check(got == expected, "records lost, invented or reordered across connections");
    for (std::size_t k = 0; k < connections; ++k)
        check(queue.close(static_cast<int>(k)) == fed[k] % kRecordSize, "the partial record is not the tail");

    std::size_t keying = 0, closing = 0;
    for (const HostCommand& c : got) {
        keying += c.command == kCommandPtt && (c.state == kStateReceive || c.state == kStateTransmit);
        closing += c.command == kCommandClose;
    }
    check(wire.frames == keying, "a frame for a command that does not key the radio");
    check(closes == closing, "close without a close command");
    return 0;
}
