// SPDX-License-Identifier: GPL-3.0-or-later
#include "command_queue.h"

namespace torvak {

void CommandQueue::feed(std::uint64_t connection, std::span<const std::uint8_t> bytes)
{
    readers_[connection].feed(bytes, [this](const HostCommand& c) { queue_.emplace_back(c, 0); });
}

std::size_t CommandQueue::room() const
{
    return queue_.size() >= capacity_ ? 0 : (capacity_ - queue_.size()) * kRecordSize;
}

void CommandQueue::push(const HostCommand& command, std::uint64_t tag)
{
    queue_.emplace_back(command, tag);
}

std::optional<HostCommand> CommandQueue::next()
{
    if (queue_.empty())
        return std::nullopt;
    const auto [command, tag] = queue_.front();
    queue_.pop_front();
    lastTag_ = tag;
    return command;
}

std::size_t CommandQueue::close(std::uint64_t connection)
{
    const auto it = readers_.find(connection);
    if (it == readers_.end())
        return 0;
    const std::size_t left = it->second.pendingBytes();
    readers_.erase(it);
    return left;
}

} // namespace torvak
