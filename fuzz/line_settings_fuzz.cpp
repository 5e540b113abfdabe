// SPDX-License-Identifier: GPL-3.0-or-later
// The line-settings parser: any text. What it accepts is a usable line, the
// port keeps its settings when it rejects one, and only TX and RX frames
// reach the port whatever was offered.
#include "../tests/unit/fakes.h"
#include "fuzz_checks.h"
#include "port/line_settings.h"
#include "port/radio_port.h"

#include <algorithm>
#include <array>
#include <string>

using namespace torvak;
using namespace torvak::fuzz;

namespace {

struct WireDevice : torvak::test::FakeDevice {
    GuardedWire guard;
    Status write(std::span<const std::uint8_t> bytes) override
    {
        check(bytes.size() == kFrameSize, "a write that is not one whole frame");
        Frame f{};
        std::copy(bytes.begin(), bytes.end(), f.begin());
        return guard.writeFrame(f, false);
    }
};

std::string canonical(const LineSettings& s)
{
    static constexpr std::array letters{'n', 'e', 'o', 'm', 's'};
    return std::to_string(s.baud) + "," + letters[static_cast<int>(s.parity)] + ","
        + std::to_string(s.dataBits) + "," + std::to_string(s.stopBits);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto parsed = parseLineSettings(text);
    if (parsed) {
        check(parsed->baud >= 110 && parsed->baud <= 921600, "baud out of range");
        check(parsed->dataBits >= 5 && parsed->dataBits <= 8, "data bits out of range");
        check(parsed->stopBits == 1 || parsed->stopBits == 2, "stop bits out of range");
        check(parseLineSettings(canonical(*parsed)) == parsed, "accepted settings do not read back");
    }

    WireDevice device;
    RadioPort port(device, [](int) { return std::string("/dev/radio"); });
    const std::string before = port.settings();
    const Status set = port.setSettings(text);
    check(set.ok() == parsed.has_value(), "the port and the parser disagree");
    check(set ? port.settings() == text : port.settings() == before, "a rejected text changed the settings");
    if (port.open()) {
        port.writeFrame(kTransmitFrame, false);
        port.writeFrame(kReceiveFrame, true);
    }
    check(device.guard.frames == 2, "frames lost");
    return 0;
}
