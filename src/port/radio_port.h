// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/ptt_controller.h"
#include "core/status.h"
#include "line_settings.h"
#include "serial_device.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace torvak {

// The radio's serial port as the rest of the program sees it: a port number
// and a settings string set while closed, open/close, and whole-frame writes.
class RadioPort : public FrameWriter {
public:
    static constexpr std::size_t kSendBufferSize = 512;
    static constexpr std::size_t kReceiveBufferSize = 1024;
    static constexpr int kFirstPort = 1;
    static constexpr int kLastPort = 16;

    // Which device a port number opens.
    using DeviceLookup = std::function<std::string(int portNumber)>;

    RadioPort(SerialDevice& device, DeviceLookup lookup);

    // 1 to 16, only while closed.
    Status setPortNumber(int number);
    int portNumber() const { return portNumber_; }

    // Only while closed; a string that does not parse is rejected and the
    // settings in force stay as they were.
    Status setSettings(std::string_view text);
    const std::string& settings() const { return settingsText_; }

    Status open();
    // Closing a closed port is no error.
    Status close();
    bool isOpen() const { return device_.isOpen(); }

    // Writes all the bytes or none: a write that does not fit in what the send
    // buffer still has room for is refused whole.
    Status write(std::span<const std::uint8_t> bytes);
    Status writeFrame(const Frame& frame, bool replaceStale) override;

private:
    SerialDevice& device_;
    DeviceLookup lookup_;
    int portNumber_ = 1;
    std::string settingsText_ = "9600,n,8,1";
    LineSettings settings_;
};

} // namespace torvak
