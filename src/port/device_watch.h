// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>

namespace torvak {

// Tells when the radio's device shows up at its path (a folder watcher in the
// program, a fake in the policy's unit tests).
class DeviceWatch {
public:
    virtual ~DeviceWatch() = default;
    virtual void watch(const std::string& path) = 0;
    virtual void stop() = 0;

    // Set by the port's owner: the watched path exists now.
    std::function<void()> appeared;
};

} // namespace torvak
