// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "host_command.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <unordered_map>
#include <variant>

namespace torvak {

// Every source's commands in one order. Host records join it as they are
// read, whichever connection they came on; a command from elsewhere (a rigctl
// client, the lamp, the transmit limit) joins it only after the hosts'
// connections were read to the end of what they held, so it is carried out
// after every record a host had handed to the kernel before it.
class CommandQueue {
public:
    using Action = std::function<void()>;

    // catchUp reads every host connection to the end of what it holds now and
    // feeds it here; record carries out a host's record.
    CommandQueue(std::function<void()> catchUp, std::function<void(const HostCommand&)> record)
        : catchUp_(std::move(catchUp)), record_(std::move(record)) {}

    // Bytes read from one connection; each record they complete joins the queue.
    void feed(std::uint64_t connection, std::span<const std::uint8_t> bytes);
    // The connection is gone; returns how many bytes of a record it left unfinished.
    std::size_t close(std::uint64_t connection);

    // A command from elsewhere, behind everything the hosts handed over before it.
    void submit(Action action);

    // Carries out the oldest command; false when none waits.
    bool carryOutNext();
    std::size_t size() const { return queue_.size(); }
    void clear() { queue_.clear(); }

private:
    std::function<void()> catchUp_;
    std::function<void(const HostCommand&)> record_;
    std::unordered_map<std::uint64_t, RecordReader> readers_;
    std::deque<std::variant<HostCommand, Action>> queue_;
};

} // namespace torvak
