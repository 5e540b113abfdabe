// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/status.h"
#include "line_settings.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace torvak {

// The buffers of the serial control the port stands for.
inline constexpr std::size_t kSendBufferSize = 512;
inline constexpr std::size_t kReceiveBufferSize = 1024;

// The serial device under the radio port (QSerialPort in the program, a fake
// in the port's unit tests). It drains whatever the radio sends by itself.
class SerialDevice {
public:
    virtual ~SerialDevice() = default;
    // Opens the device exclusively with these line settings, RTS off and DTR on.
    virtual Status open(const std::string& path, const LineSettings& settings) = 0;
    // Lets the queued bytes reach the device first, for as long as the line
    // needs to send them at its speed, then closes. Returns how many bytes the
    // line did not take in that time: they were not sent.
    virtual std::size_t close() = 0;
    // False once the device has gone away (hung up, unplugged).
    virtual bool isOpen() const = 0;
    // Bytes accepted that the device has not taken yet: more than none only
    // while the line is not taking bytes (a stall).
    virtual std::size_t bytesQueued() const = 0;
    virtual Status write(std::span<const std::uint8_t> bytes) = 0;
    // Throws away what the line has not sent yet.
    virtual void discardQueued() = 0;

    // Set by the port's owner. lost: the device went away while open and is
    // closed now, with this many queued bytes unsent. drained: the line took
    // every queued byte. received: bytes came back from the radio (the bus
    // echo, its answer, or noise), so the line carries what is sent.
    std::function<void(std::size_t unsent)> lost;
    std::function<void()> drained;
    std::function<void(std::span<const std::uint8_t>)> received;
    // Another process reads the device too (what it names, or nothing): the
    // radio's answers may go to it. Told once for each open.
    std::function<void(const std::string& holders)> shared;
};

} // namespace torvak
