// SPDX-License-Identifier: GPL-3.0-or-later
#include "command_queue.h"

namespace torvak {

void CommandQueue::feed(std::uint64_t connection, std::span<const std::uint8_t> bytes)
{
    readers_[connection].feed(bytes, [this](const HostCommand& c) { queue_.emplace_back(c); });
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

void CommandQueue::submit(Action action)
{
    if (catchUp_)
        catchUp_();
    queue_.emplace_back(std::move(action));
}

bool CommandQueue::carryOutNext()
{
    if (queue_.empty())
        return false;
    auto command = std::move(queue_.front());
    queue_.pop_front();
    if (const auto* record = std::get_if<HostCommand>(&command))
        record_(*record);
    else if (const auto& action = std::get<Action>(command))
        action();
    return true;
}

} // namespace torvak
