// SPDX-License-Identifier: GPL-3.0-or-later
#include "radio_port.h"

namespace torvak {

Status RadioPort::setPortNumber(int number)
{
    if (device_.isOpen())
        return Status::failure("the port is open: close it before changing the port number");
    if (number < kFirstPort || number > kLastPort)
        return Status::failure("no such port: COM" + std::to_string(number));
    portNumber_ = number;
    return Status::success();
}

Status RadioPort::setSettings(std::string_view text)
{
    if (device_.isOpen())
        return Status::failure("the port is open: close it before changing its settings");
    const auto parsed = parseLineSettings(text);
    if (!parsed)
        return Status::failure("port settings \"" + std::string(text)
                               + "\" were refused: expected baud,parity,data bits,stop bits such as 9600,n,8,1");
    settings_ = *parsed;
    settingsText_ = std::string(text);
    return Status::success();
}

Status RadioPort::open(const std::string& path)
{
    if (device_.isOpen())
        return Status::failure("the port is already open");
    const Status opened = device_.open(path, settings_);
    if (!opened)
        return Status::failure("COM" + std::to_string(portNumber_) + " (" + path + "): " + opened.reason());
    return opened;
}

std::size_t RadioPort::close()
{
    return device_.isOpen() ? device_.close() : 0;
}

Status RadioPort::write(std::span<const std::uint8_t> bytes)
{
    if (!device_.isOpen())
        return Status::failure("the radio port is not open");
    if (device_.bytesQueued() + bytes.size() > kSendBufferSize)
        return Status::failure("the radio port's send buffer is full");
    return device_.write(bytes);
}

} // namespace torvak
