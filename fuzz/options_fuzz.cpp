// SPDX-License-Identifier: GPL-3.0-or-later
// The settings-store number conversions: any stored text. Readings stay in the
// 16-bit range and round halves to even; a stored port number reaches the
// port only as 1 to 16; and only TX and RX frames reach the port.
#include "../tests/unit/fakes.h"
#include "fuzz_checks.h"
#include "port/radio_port.h"
#include "settings/options.h"

#include <cmath>
#include <string>

using namespace torvak;
using namespace torvak::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    torvak::test::MemoryStore store;
    for (const char* key : {"Com/ComPort", "Win/Min", "Win/Top", "Com/Settings"})
        store.values[key] = text;

    const Checked<double> number = options::toNumber(text);
    const Checked<std::int16_t> port = options::comPort(store);
    const Checked<std::int16_t> position = options::comPortListPosition(store);
    if (!number.status) {
        check(!port.status && !position.status, "a reading from text that is not a number");
    } else {
        check(std::isfinite(number.value), "a number that is not finite");
        if (port.status) {
            check(std::fabs(port.value - number.value) <= 0.5, "rounding off by more than a half");
            const double r = std::nearbyint(number.value);
            check(port.value == r, "not rounded halves to even");
        }
        if (position.status)
            check(std::fabs(position.value - (number.value - 1)) <= 0.5, "list position off");
    }
    if (port.status)
        check(options::toText(port.value) == std::to_string(port.value), "not the shortest decimal text");

    // Start-up's use of the stored values: the port takes 1 to 16 only.
    torvak::test::FakeDevice device;
    RadioPort radio(device, [&](int n) { return options::devicePath(store, n); });
    const Status set = port.status ? radio.setPortNumber(port.value) : port.status;
    check(set.ok() == (port.status && port.value >= 1 && port.value <= 16), "port number range");
    check(radio.portNumber() >= 1 && radio.portNumber() <= 16, "the port holds an impossible number");

    GuardedWire wire;
    PlainLamp lamp;
    PttController controller(wire, lamp, [] {});
    const std::int32_t command = port.status ? port.value : 0;
    const std::int32_t state = options::topMost(store).value;
    controller.ptt(command, state);
    check(wire.frames <= 1, "more than one frame for one command");
    return 0;
}
