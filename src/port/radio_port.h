// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/status.h"
#include "line_settings.h"
#include "serial_device.h"

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace torvak {

// The radio's serial port as its owner uses it: a port number and a settings
// string set while closed, open/close, and whole writes.
class RadioPort {
public:
    static constexpr int kFirstPort = 1;
    static constexpr int kLastPort = 16;

    explicit RadioPort(SerialDevice& device) : device_(device) {}

    // 1 to 16, only while closed.
    Status setPortNumber(int number);
    int portNumber() const { return portNumber_; }

    // Only while closed; a string that does not parse is rejected and the
    // settings in force stay as they were.
    Status setSettings(std::string_view text);
    const std::string& settings() const { return settingsText_; }
    const LineSettings& lineSettings() const { return settings_; }

    // Opens the device at path, which the owner looked up for portNumber().
    Status open(const std::string& path);
    // Returns how many queued bytes the line did not take before it closed.
    std::size_t close();
    bool isOpen() const { return device_.isOpen(); }

    // Writes all the bytes or none: a write that does not fit in what the send
    // buffer still has room for is refused whole.
    Status write(std::span<const std::uint8_t> bytes);

private:
    SerialDevice& device_;
    int portNumber_ = 1;
    std::string settingsText_ = "9600,n,8,1";
    LineSettings settings_;
};

} // namespace torvak
