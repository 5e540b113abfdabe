// SPDX-License-Identifier: GPL-3.0-or-later
#include "device_map.h"

#include "core/text.h"

namespace torvak {

inline constexpr std::string_view kDevicesSection = "Devices";

Checked<std::string> deviceFor(const SettingsStore& store, int portNumber)
{
    const std::string key = "COM" + std::to_string(portNumber);
    const auto mapped = store.read(kDevicesSection, key);
    if (!mapped)
        return Checked<std::string>::of("/dev/ttyS" + std::to_string(portNumber - 1));
    const std::string path(trimmed(*mapped));
    if (path.empty())
        return Checked<std::string>::failed("no device is mapped to " + key + " ([Devices] " + key + " is empty)");
    if (path.front() != '/')
        return Checked<std::string>::failed("[Devices] " + key + "=" + path
                                            + " is not an absolute path: give the device's full path, such as /dev/ttyUSB0");
    return Checked<std::string>::of(path);
}

} // namespace torvak
