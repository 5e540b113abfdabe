// SPDX-License-Identifier: GPL-3.0-or-later
// Any text an operator or a damaged file may leave in the settings: as the
// line settings, what is accepted is a usable line and reads back the same,
// and the port keeps its settings when it refuses one; as a stored number,
// readings stay in 16 bits rounded halves to even, and the port takes only
// 1 to 16; as a device mapping, it names an absolute path or nothing. As a
// line of the settings file, whatever it is, it costs no key on another line,
// on reading or on the next write.
#include "check.h"
#include "core/text.h"
#include "../tests/support/fakes.h"
#include "port/device_map.h"
#include "port/radio_port.h"
#include "settings/options.h"
#include "settings/settings_text.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

using namespace torvak;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (const auto parsed = parseLineSettings(text)) {
        check(parsed->baud >= 110 && parsed->baud <= 921600 && parsed->dataBits >= 5 && parsed->dataBits <= 8
                  && (parsed->stopBits == 1 || parsed->stopBits == 2), "accepted settings out of range");
        static constexpr std::array letters{'n', 'e', 'o', 'm', 's'};
        const std::string canonical = std::to_string(parsed->baud) + "," + letters[static_cast<int>(parsed->parity)] + ","
            + std::to_string(parsed->dataBits) + "," + std::to_string(parsed->stopBits);
        check(parseLineSettings(canonical) == parsed, "accepted settings do not read back");
    }
    test::MemoryStore store;
    for (const char* key : {"Com/ComPort", "Win/Min", "Win/Top", "Com/Settings", "Devices/COM1"})
        store.values[key] = text;
    test::FakeDevice device;
    RadioPort port(device);
    const Checked<std::string> mapped = deviceFor(store, 1);
    check(mapped.status ? mapped.value.front() == '/' : mapped.value.empty(), "a mapping that is not an absolute path");
    const Status set = port.setSettings(options::lineSettings(store));
    check(set.ok() == parseLineSettings(text).has_value(), "the port and the parser disagree");
    check(port.settings() == (set ? text : "9600,n,8,1"), "a refused text changed the settings");

    const Checked<double> number = options::toNumber(text);
    const Checked<std::int16_t> stored = options::comPort(store), position = options::comPortListPosition(store);
    check(number.status || (!stored.status && !position.status), "a reading from text that is not a number");
    if (stored.status)
        check(stored.value == std::nearbyint(number.value) && options::toText(stored.value) == std::to_string(stored.value),
              "not rounded halves to even, or not the shortest text");
    if (position.status)
        check(std::fabs(position.value - (number.value - 1)) <= 0.5, "list position off");
    const Status numbered = stored.status ? port.setPortNumber(stored.value) : stored.status;
    check(numbered.ok() == (stored.status && stored.value >= 1 && stored.value <= 16), "port number range");

    // One line of the file (up to its first line break) among sections of known keys.
    const std::string line = text.substr(0, text.find('\n'));
    SettingsText file("[Com]\nComPort=2\n" + line + "\n[Devices]\nCOM1=/dev/ttyUSB0\n[Safety]\nTransmitLimit=120\n");
    const bool ownHeader = line.find("ComPort") != std::string::npos; // it may set the key itself
    for (int pass = 0; pass < 2; ++pass) {
        if (!ownHeader)
            check(file.value("Com", "ComPort") == (pass ? "3" : "2"), "a line cost the key before it");
        check(file.value("Devices", "COM1") == "/dev/ttyUSB0" && file.value("Safety", "TransmitLimit") == "120",
              "a line cost a section after it");
        file.setValue("Win", "Top", text);
        if (!ownHeader)
            file.setValue("Com", "ComPort", "3");
        check(SettingsText(file.text()).value("Win", "Top") == text, "a value does not read back as written");
        check(file.text().find("\n" + line + "\n") != std::string::npos, "a write changed a line it did not set");
        file = SettingsText(file.text());
    }
    return 0;
}
