// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "host_command.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <unordered_map>
#include <utility>

namespace torvak {

// Every host connection's records in one queue, in the order the program read
// them, whichever connection they came on: a receive sent on a second
// connection after a transmit on the first is carried out after it.
class CommandQueue {
public:
    // How many records may wait; past it the caller stops reading its senders.
    explicit CommandQueue(std::size_t capacity) : capacity_(capacity) {}

    // Bytes read from one connection; each record they complete joins the queue.
    void feed(std::uint64_t connection, std::span<const std::uint8_t> bytes);
    // How many bytes may be read now without the queue going past its capacity.
    std::size_t room() const;

    // A command from elsewhere (a rigctl client), in its turn with the rest;
    // the tag comes out with it.
    void push(const HostCommand& command, std::uint64_t tag);

    std::optional<HostCommand> next();
    // The tag of the command next() returned last: 0 for a host's record.
    std::uint64_t lastTag() const { return lastTag_; }
    std::size_t size() const { return queue_.size(); }
    void clear() { queue_.clear(); }

    // The connection is gone; returns how many bytes of a record it left unfinished.
    std::size_t close(std::uint64_t connection);

private:
    std::size_t capacity_;
    std::unordered_map<std::uint64_t, RecordReader> readers_;
    std::deque<std::pair<HostCommand, std::uint64_t>> queue_;
    std::uint64_t lastTag_ = 0;
};

} // namespace torvak
