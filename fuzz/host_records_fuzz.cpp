// The host-link record reader: arbitrary byte streams, cut at arbitrary places.
// A stream yields exactly the complete records it contains, in order, and
// carrying them out puts only TX and RX frames on the port.
#include "core/host_command.h"
#include "fuzz_checks.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <vector>

using namespace torvak;
using namespace torvak::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const auto cutSeed = input.ConsumeIntegral<std::uint32_t>();
    const std::vector<std::uint8_t> stream = input.ConsumeRemainingBytes<std::uint8_t>();

    // What the stream holds, read straight through.
    std::vector<HostCommand> expected;
    for (std::size_t at = 0; at + kRecordSize <= stream.size(); at += kRecordSize) {
        RecordReader whole;
        whole.feed({stream.data() + at, kRecordSize}, [&](const HostCommand& c) { expected.push_back(c); });
    }

    GuardedWire wire;
    PlainLamp lamp;
    std::size_t closes = 0;
    PttController controller(wire, lamp, [&] { ++closes; });

    // The same stream in pieces of 0 to 15 bytes.
    RecordReader reader;
    std::vector<HostCommand> got;
    std::uint32_t cuts = cutSeed | 1;
    for (std::size_t at = 0; at <= stream.size();) {
        cuts ^= cuts << 13, cuts ^= cuts >> 17, cuts ^= cuts << 5;
        const std::size_t n = std::min<std::size_t>(cuts % 16, stream.size() - at);
        reader.feed({stream.data() + at, n}, [&](const HostCommand& c) {
            got.push_back(c);
            controller.ptt(c.command, c.state);
        });
        at += n;
        if (at == stream.size())
            break;
    }
    check(got == expected, "records lost, invented or reordered");
    check(reader.pendingBytes() == stream.size() % kRecordSize, "the partial record is not the tail");

    std::size_t keying = 0, closing = 0;
    for (const HostCommand& c : expected) {
        keying += c.command == kCommandPtt && (c.state == kStateReceive || c.state == kStateTransmit);
        closing += c.command == kCommandClose;
    }
    check(wire.frames == keying, "a frame for a command that does not key the radio");
    check(closes == closing, "close without a close command");
    return 0;
}
